#include "store/AccountDatabase.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tolvane::store {
namespace {

using namespace std::chrono_literals;

AccountValues Version(const std::string& password) {
    AccountValues values;
    values.password = password;
    values.rootDir = "/srv/ftp/" + password + "/";
    values.accessingRules = {{"/srv/ftp/", "RWL"}, {"/srv/ftp/" + password + "/", "RWDECLMrdcI"}};
    values.loginMessage = std::string(3000, 'm');
    return values;
}

// Writes every account file over and over, alternating between two versions, until killed.
[[noreturn]] void WriteForever(const std::vector<std::filesystem::path>& files) {
    const AccountValues versions[] = {Version("old"), Version("new")};
    for (int round = 0;; ++round)
        for (const auto& file : files) WriteAccount(file, versions[round % 2]);
}

TEST(ProfileCrashTest, KilledWriterLeavesEveryAccountFileOldOrNewNeverTruncated) {
    TempFolder folder;
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 10; ++i) files.push_back(folder.path() / ("user" + std::to_string(i) + ".FTP_User"));
    for (const auto& file : files) ASSERT_TRUE(WriteAccount(file, Version("old")));
    const std::string oldText = ReadText(files[0]);
    ASSERT_TRUE(WriteAccount(folder.path() / "probe", Version("new")));
    const std::string newText = ReadText(folder.path() / "probe");

    for (int kill = 0; kill < 5; ++kill) {
        const pid_t writer = fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) WriteForever(files);
        std::this_thread::sleep_for(std::chrono::milliseconds(150 + 70 * kill));
        ::kill(writer, SIGKILL);
        int status = 0;
        ::waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        for (const auto& file : files) {
            const std::string text = ReadText(file);
            EXPECT_TRUE(text == oldText || text == newText) << file << " holds " << text.size() << " bytes";
        }
    }
}

}  // namespace
}  // namespace tolvane::store
