#include "ftp/FileSystem.h"
#include "TempFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// A folder holding "readme.txt", "pub/" and links to both, plus a dangling link.
class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteText(root_ / "readme.txt", "text");
        fs::create_directory(root_ / "pub");
        fs::create_directory_symlink(root_ / "pub", root_ / "publink");
        fs::create_symlink(root_ / "readme.txt", root_ / "readlink");
        fs::create_symlink(root_ / "gone", root_ / "dangling");
    }
    std::string At(const std::string& name) const { return (root_ / name).string(); }

    TempFolder folder_;
    const fs::path root_ = folder_.path();
    const std::string dir_ = root_.string() + '/';
};

TEST_F(FileSystemTest, LookupMatchesNamesExactly) {
    EXPECT_EQ(LookupEntry(dir_, "readme.txt"), EntryKind::File);
    EXPECT_EQ(LookupEntry(root_.string(), "readme.txt"), EntryKind::File);
    EXPECT_EQ(LookupEntry(dir_, "pub"), EntryKind::Directory);
    EXPECT_EQ(LookupEntry(dir_, "publink"), EntryKind::Directory);
    EXPECT_EQ(LookupEntry(dir_, "readlink"), EntryKind::File);
    EXPECT_EQ(LookupEntry(dir_, "dangling"), EntryKind::File);
    for (const std::string& name :
         std::vector<std::string>{"Readme.txt", "PUB", "", ".", "..", "pub/..", "readme.txt\0x"s, "missing"}) {
        EXPECT_EQ(LookupEntry(dir_, name), EntryKind::None) << name;
    }
    EXPECT_EQ(LookupEntry("pub/", "x"), EntryKind::None);  // relative to the process: never
}

TEST_F(FileSystemTest, RealPathFollowsLinksAndRefusesThoseThatLeadNowhere) {
    const std::string real = fs::canonical(root_).string() + '/';
    EXPECT_EQ(RealPath(At("publink") + "/"), real + "pub/");
    EXPECT_EQ(RealPath(At("publink/new/deeper.txt")), real + "pub/new/deeper.txt");
    EXPECT_EQ(RealPath(At("readlink")), real + "readme.txt");
    EXPECT_EQ(RealPath(At("readme.txt/below")), At("readme.txt/below"));
    fs::create_symlink(root_ / "loop", root_ / "loop");
    for (const std::string& path : {At("dangling"), At("dangling/x"), At("loop"), "relative/path"s, ""s})
        EXPECT_EQ(RealPath(path), "") << path;
}

TEST_F(FileSystemTest, DirectoryExistsUnderItsExactName) {
    EXPECT_TRUE(DirectoryExists(dir_ + "pub/"));
    EXPECT_TRUE(DirectoryExists(dir_ + "pub"));
    EXPECT_TRUE(DirectoryExists(dir_ + "publink/"));
    EXPECT_TRUE(DirectoryExists("/"));
    EXPECT_TRUE(DirectoryExists("/tmp/"));
    for (const std::string& path : {dir_ + "Pub/", dir_ + "pub/.", dir_ + "pub/..", dir_ + "readme.txt",
                                   dir_ + "pub\0x/"s, "/nonexistent-tolvane/"s, "tmp/"s, ""s}) {
        EXPECT_FALSE(DirectoryExists(path)) << path;
    }
}

TEST_F(FileSystemTest, OnlyReadableRegularFilesAreOpenable) {
    EXPECT_TRUE(FileOpenable(At("readme.txt")));
    EXPECT_TRUE(FileOpenable(At("readlink")));
    EXPECT_FALSE(FileOpenable(At("pub")));
    EXPECT_FALSE(FileOpenable(At("dangling")));
    ASSERT_EQ(::mkfifo(At("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(FileOpenable(At("fifo")));  // returns instead of waiting for a writer
    if (::geteuid() != 0) {
        fs::permissions(root_ / "readme.txt", fs::perms::none);
        EXPECT_FALSE(FileOpenable(At("readme.txt")));
    }
}

TEST_F(FileSystemTest, RenameNeverReplacesAnExistingTarget) {
    WriteText(root_ / "other.txt", "other");
    EXPECT_FALSE(RenameEntry(At("readme.txt"), At("other.txt")));
    EXPECT_EQ(ReadText(root_ / "readme.txt"), "text");
    EXPECT_EQ(ReadText(root_ / "other.txt"), "other");
    fs::create_directory(root_ / "empty");
    EXPECT_FALSE(RenameEntry(At("pub"), At("empty")));  // a plain rename would replace it
    EXPECT_TRUE(fs::is_directory(root_ / "pub"));
    EXPECT_FALSE(RenameEntry(At("missing"), At("new")));
    EXPECT_TRUE(RenameEntry(At("readme.txt"), At("new.txt")));
    EXPECT_EQ(ReadText(root_ / "new.txt"), "text");
    EXPECT_TRUE(RenameEntry(At("pub"), At("pub2")));
    EXPECT_TRUE(fs::is_directory(root_ / "pub2"));
}

TEST_F(FileSystemTest, DeleteTakesFilesAndLinksButNeverFolders) {
    EXPECT_FALSE(DeleteFile(At("pub")));
    EXPECT_TRUE(fs::is_directory(root_ / "pub"));
    EXPECT_TRUE(DeleteFile(At("publink")));
    EXPECT_TRUE(fs::is_directory(root_ / "pub"));
    EXPECT_TRUE(DeleteFile(At("readlink")));
    EXPECT_TRUE(fs::exists(root_ / "readme.txt"));
    EXPECT_TRUE(DeleteFile(At("readme.txt")));
    EXPECT_FALSE(fs::exists(root_ / "readme.txt"));
    EXPECT_FALSE(DeleteFile(At("readme.txt")));
}

TEST_F(FileSystemTest, FoldersAreMadeAndRemovedOnlyWhereThatIsSound) {
    EXPECT_FALSE(MakeDirectory(At("pub")));
    EXPECT_FALSE(MakeDirectory("relative-folder"));
    EXPECT_TRUE(MakeDirectory(At("new")));
    EXPECT_TRUE(fs::is_directory(root_ / "new"));
    WriteText(root_ / "pub" / "keep.txt", "x");
    EXPECT_FALSE(RemoveDirectory(At("pub")));
    EXPECT_FALSE(RemoveDirectory(At("publink")));
    EXPECT_FALSE(RemoveDirectory(At("readme.txt")));
    EXPECT_TRUE(RemoveDirectory(At("new")));
    EXPECT_FALSE(fs::exists(root_ / "new"));
}

}  // namespace
}  // namespace tolvane::ftp
