#include "store/ProfileFile.h"
#include "store/ProfileReadScope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempFolder.h"

using namespace tolvane::store;
namespace fs = std::filesystem;

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    TempFolder folder;
    fs::path file = folder.path() / "account.FTP_User";
};

TEST_F(ProfileFileTest, ReadsWindowsFilesWithOddSpacingAndCase) {
    WriteText(file,
              "\xEF\xBB\xBF[ Misc-Options ]  \r\n"
              "  Timeout =  300  \r\n"
              "LoginMessage=C:\\msg=1.txt \t\r\n"
              "Empty=\r\n"
              "NoEqualsSign\r\n"
              "[RATIO]\r\n"
              "Timeout=5");
    const ProfileFile profile = ProfileFile::Load(file);
    EXPECT_EQ(profile.ReadInt("misc-options", "TIMEOUT", -1), 300);
    EXPECT_EQ(profile.ReadString("MISC-OPTIONS", "LoginMessage", ""), "C:\\msg=1.txt");
    EXPECT_EQ(profile.ReadString("RATIO", "Timeout", ""), "5") << "last line without line end";
    // An empty value is a value for strings, but the default for integers.
    EXPECT_EQ(profile.ReadString("MISC-OPTIONS", "Empty", "dflt"), "");
    EXPECT_EQ(profile.ReadInt("MISC-OPTIONS", "Empty", 7), 7);
    EXPECT_EQ(profile.ReadString("MISC-OPTIONS", "NoEqualsSign", "dflt"), "dflt");
    EXPECT_EQ(profile.ReadString("Missing", "Timeout", "dflt"), "dflt");
    EXPECT_EQ(ReadProfileString(folder.path() / "absent", "MISC-OPTIONS", "Timeout", "dflt"), "dflt");
}

TEST_F(ProfileFileTest, FirstOfDuplicateKeysWins) {
    WriteText(file, "k=outside\n[a]\nk=1\nK=2\n[b]\nk=3\n[A]\nk=4\nj=5\n");
    const ProfileFile profile = ProfileFile::Load(file);
    EXPECT_EQ(profile.ReadString("a", "k", ""), "1");
    EXPECT_EQ(profile.ReadString("a", "j", ""), "5") << "a repeated section still counts";
    EXPECT_EQ(profile.ReadString("b", "k", ""), "3");
}

TEST(ProfileConversionTest, NumbersTakeTheLeadingNumberAndNeverOverflow) {
    EXPECT_EQ(ParseProfileInt("  -12abc"), -12);
    EXPECT_EQ(ParseProfileInt("+7"), 7);
    EXPECT_EQ(ParseProfileInt("abc"), 0);
    EXPECT_EQ(ParseProfileInt("99999999999999999999999"), INT_MAX);
    EXPECT_EQ(ParseProfileInt("-99999999999"), INT_MIN);
    EXPECT_DOUBLE_EQ(ParseProfileDouble(" 1.5kb"), 1.5);
    EXPECT_DOUBLE_EQ(ParseProfileDouble("+2"), 2.0);
    EXPECT_DOUBLE_EQ(ParseProfileDouble(""), 0.0);
    EXPECT_DOUBLE_EQ(ParseProfileDouble("nan"), 0.0);
    EXPECT_DOUBLE_EQ(ParseProfileDouble("1e999"), 0.0);
}

TEST_F(ProfileFileTest, WriteCreatesFileAndSectionPrivately) {
    ASSERT_TRUE(WriteProfileString(file, "RATIO", "Credit", "5"));
    EXPECT_EQ(ReadText(file), "[RATIO]\nCredit=5\n");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "account files hold passwords";
}

TEST_F(ProfileFileTest, WriteReplacesInPlaceAppendsToSectionAndKeepsOtherLines) {
    WriteText(file,
              "\xEF\xBB\xBF; hand-edited\r\n[Userinformation]\r\n  PassWord = old \r\nIPHome=10.0.0.1\r\n"
              "junk without equals\r\n\r\n[RATIO]\r\nCredit=1\r\n");
    ProfileEditor editor(file);
    editor.Set("userinformation", "Password", "new");
    editor.Set("Userinformation", "RootDir", "/srv/ftp/");
    editor.Set("Logging", "Enabled", "TRUE");
    ASSERT_TRUE(editor.Save());
    EXPECT_EQ(ReadText(file),
              "\xEF\xBB\xBF; hand-edited\r\n[Userinformation]\r\nPassWord=new\r\nIPHome=10.0.0.1\r\n"
              "junk without equals\r\nRootDir=/srv/ftp/\r\n\r\n[RATIO]\r\nCredit=1\r\n"
              "\r\n[Logging]\r\nEnabled=TRUE\r\n");
}

// A key given with blanks around it names the same line the reader finds; it used to be
// appended as a second line that the first one shadowed.
TEST_F(ProfileFileTest, PaddedNamesReplaceTheExistingLine) {
    WriteText(file, "[ Logging ]\n  LogEnabled = 1 \n");
    ASSERT_TRUE(WriteProfileString(file, " Logging ", "  LogEnabled ", "0"));
    EXPECT_EQ(ReadText(file), "[ Logging ]\nLogEnabled=0\n");
    EXPECT_EQ(ReadProfileString(file, "Logging", "LogEnabled", ""), "0");
}

TEST_F(ProfileFileTest, LeftoverCopiesOfCutShortSavesAreSweptAndNothingElse) {
    const fs::path nested = folder.path() / "Users";
    fs::create_directories(nested);
    for (const auto& name : {folder.path() / ".profile.a1B2c3", nested / ".profile.zzzzzz"}) std::ofstream(name) << "x";
    for (const auto& name : {nested / ".profile.kept", nested / "u.FTP_User"}) std::ofstream(name) << "x";
    RemoveLeftoverCopies(folder.path());
    EXPECT_FALSE(fs::exists(folder.path() / ".profile.a1B2c3"));
    EXPECT_FALSE(fs::exists(nested / ".profile.zzzzzz"));
    EXPECT_TRUE(fs::exists(nested / ".profile.kept"));
    EXPECT_TRUE(fs::exists(nested / "u.FTP_User"));
}

TEST_F(ProfileFileTest, EditorRefusesTextThatWouldForgeLines) {
    ProfileEditor editor(file);
    EXPECT_FALSE(editor.Set("Userinformation", "Password", "x\nRootDir=/"));
    EXPECT_FALSE(editor.Set("Userinformation", "[Logging]", "x"));
    EXPECT_FALSE(editor.Set("Userinformation", "a=b", "x"));
    EXPECT_FALSE(editor.Set("A]\n[B", "k", "x"));
    EXPECT_TRUE(editor.Set("Userinformation", "RootDir", "/srv/"));
    EXPECT_FALSE(editor.Save()) << "a refused assignment is reported";
    EXPECT_FALSE(fs::exists(file)) << "and nothing of the save is written";
    WriteText(file, "[Userinformation]\nRootDir=/old/\n");
    EXPECT_TRUE(editor.Set("Userinformation", "Password", "new"));
    EXPECT_FALSE(editor.Save());
    EXPECT_EQ(ReadText(file), "[Userinformation]\nRootDir=/old/\n");
}

TEST_F(ProfileFileTest, JunkReadsAsDefaults) {
    std::mt19937 random(42);
    std::string junk(256 * 1024, '\0');
    for (char& c : junk) c = static_cast<char>(random());
    WriteText(file, junk);
    EXPECT_EQ(ReadProfileString(file, "Userinformation", "RootDir", "ERROR"), "ERROR");

    WriteText(file, std::string("[s]\nk=ab\0cd\nn=1\n", 16));
    EXPECT_EQ(ReadProfileString(file, "s", "k", ""), "ab") << "a value ends at NUL";
    EXPECT_EQ(ReadProfileInt(file, "s", "n", 0), 1);
}

TEST_F(ProfileFileTest, LargeValueReadsWholeButOversizedFilesAreUnreadable) {
    WriteText(file, "[s]\nk=" + std::string(10 * 1024 * 1024, 'v') + "\nn=2\n");
    const ProfileFile profile = ProfileFile::Load(file);
    EXPECT_EQ(profile.ReadString("s", "k", "").size(), 10u * 1024 * 1024);
    EXPECT_EQ(profile.ReadInt("s", "n", 0), 2);

    fs::resize_file(file, kMaxProfileFileSize + 1);  // sparse: costs no disk
    EXPECT_EQ(ReadProfileInt(file, "s", "n", -1), -1);
    EXPECT_FALSE(WriteProfileString(file, "s", "n", "3")) << "must not replace what it cannot read";
    EXPECT_EQ(fs::file_size(file), kMaxProfileFileSize + 1);

    WriteText(file, "[s]\nn=2\n" + std::string(kMaxProfileFileLines, '\n'));
    EXPECT_EQ(ReadProfileInt(file, "s", "n", -1), -1);
}

TEST_F(ProfileFileTest, NonRegularPathsReadAsDefaultsAndRefuseWrites) {
    const fs::path fifo = folder.path() / "fifo.FTP_User";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(file);
    const fs::path plain = folder.path() / "Database";
    WriteText(plain, "not a folder");
    for (const fs::path& path : {fifo, file, plain / "x.FTP_IPHome"}) {
        EXPECT_EQ(ReadProfileString(path, "s", "k", "dflt"), "dflt") << path;
        EXPECT_FALSE(WriteProfileString(path, "s", "k", "v")) << path;
    }
}

void WriteAllKeys(const fs::path& file, const std::string& value) {
    ProfileEditor editor(file);
    for (int i = 0; i < 30; ++i) editor.Set("s", "k" + std::to_string(i), value);
    editor.Save();
}

TEST_F(ProfileFileTest, ReaderSeesTheOldOrTheNewFileNeverAMixture) {
    WriteAllKeys(file, "a");
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int round = 0; round < 150; ++round) WriteAllKeys(file, round % 2 ? "a" : std::string(round + 1, 'b'));
        done = true;
    });
    int mixtures = 0;
    while (!done) {
        const ProfileFile profile = ProfileFile::Load(file);
        const std::string first = profile.ReadString("s", "k0", "");
        mixtures += first.empty();
        for (int i = 1; i < 30; ++i) mixtures += profile.ReadString("s", "k" + std::to_string(i), "") != first;
    }
    writer.join();
    EXPECT_EQ(mixtures, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1)
        << "no temporary file is left behind";
}

TEST_F(ProfileFileTest, ConcurrentSaversKeepEachOthersKeys) {
    const auto writeKeys = [&](const std::string& prefix) {
        for (int i = 0; i < 40; ++i) WriteProfileString(file, "s", prefix + std::to_string(i), "v");
    };
    std::thread credit(writeKeys, "credit");
    std::thread editor(writeKeys, "editor");
    credit.join();
    editor.join();
    const ProfileFile profile = ProfileFile::Load(file);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(profile.ReadString("s", "credit" + std::to_string(i), ""), "v");
        EXPECT_EQ(profile.ReadString("s", "editor" + std::to_string(i), ""), "v");
    }
}

// Counters changed by differences under the lock lose no change, however the savers interleave.
TEST_F(ProfileFileTest, SaversThatPrepareFromTheLockedFileLoseNoUpdate) {
    const auto addOnes = [&] {
        for (int i = 0; i < 50; ++i) {
            ProfileEditor(file).SaveAfter([](const ProfileFile& current, ProfileEditor& editor) {
                return editor.Set("RATIO", "Credit", std::to_string(current.ReadInt("RATIO", "Credit", 0) + 1));
            });
        }
    };
    std::thread first(addOnes);
    std::thread second(addOnes);
    first.join();
    second.join();
    EXPECT_EQ(ReadProfileInt(file, "RATIO", "Credit", 0), 100);
    EXPECT_FALSE(ProfileEditor(file).SaveAfter([](const ProfileFile&, ProfileEditor& editor) {
        editor.Set("RATIO", "Credit", "0");
        return false;
    }));
    EXPECT_EQ(ReadProfileInt(file, "RATIO", "Credit", 0), 100);
}

}  // namespace

// Reads of an unchanged file come from a shared snapshot; every way of changing the file must
// still be seen at once. The files are left to settle first, as account files usually are.
TEST_F(ProfileFileTest, SnapshotOfASettledFileFollowsEveryKindOfChange) {
    const fs::path inPlace = folder.path() / "in-place", replaced = folder.path() / "replaced",
                   removed = folder.path() / "removed", sameTimes = folder.path() / "same-times",
                   unreadable = folder.path() / "unreadable";
    for (const fs::path& path : {inPlace, replaced, removed, sameTimes, unreadable}) WriteText(path, "[s]\nk=old\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(3100));
    for (const fs::path& path : {inPlace, replaced, removed, sameTimes, unreadable}) {
        ASSERT_EQ(ReadProfileString(path, "s", "k", ""), "old");
    }

    WriteText(inPlace, "[s]\nk=new\n");  // same size, same inode
    WriteText(folder.path() / "next", "[s]\nk=new\n");
    fs::rename(folder.path() / "next", replaced);
    fs::remove(removed);
    struct stat before {};
    ASSERT_EQ(::stat(sameTimes.c_str(), &before), 0);
    WriteText(sameTimes, "[s]\nk=new\n");
    const timespec times[2] = {before.st_atim, before.st_mtim};  // a tool that keeps the modification time
    ASSERT_EQ(::utimensat(AT_FDCWD, sameTimes.c_str(), times, 0), 0);
    fs::permissions(unreadable, fs::perms::none);

    EXPECT_EQ(ReadProfileString(inPlace, "s", "k", ""), "new");
    EXPECT_EQ(ReadProfileString(replaced, "s", "k", ""), "new");
    EXPECT_EQ(ReadProfileString(removed, "s", "k", "gone"), "gone");
    EXPECT_EQ(ReadProfileString(sameTimes, "s", "k", ""), "new");
    if (::geteuid() != 0) {
        EXPECT_EQ(ReadProfileString(unreadable, "s", "k", "denied"), "denied");
    }
}

// A command reads its account several times and must see one version of it, yet what it writes
// itself, and everything after the command, reads as the file now is.
TEST_F(ProfileFileTest, ReadScopeKeepsTheFirstVersionUntilItsOwnWriteOrItsEnd) {
    WriteText(file, "[s]\nk=first\n");
    {
        const ProfileReadScope command;
        EXPECT_EQ(ReadProfileString(file, "s", "k", ""), "first");
        WriteText(file, "[s]\nk=second, longer\n");
        {
            const ProfileReadScope inner;
            EXPECT_EQ(ReadProfileString(file, "s", "k", ""), "first");
        }
        EXPECT_EQ(ReadProfileInt(file, "s", "missing", 7), 7);
        EXPECT_EQ(ReadProfileString(file, "s", "k", ""), "first");
        std::string otherThread;
        std::thread([&] { otherThread = ReadProfileString(file, "s", "k", ""); }).join();
        EXPECT_EQ(otherThread, "second, longer");

        ASSERT_TRUE(WriteProfileString(file, "s", "k", "third"));
        EXPECT_EQ(ReadProfileString(file, "s", "k", ""), "third");
        WriteText(file, "[s]\nk=fourth\n");
        EXPECT_EQ(ReadProfileString(file, "s", "k", ""), "third");
    }
    EXPECT_EQ(ReadProfileString(file, "s", "k", ""), "fourth");
}
