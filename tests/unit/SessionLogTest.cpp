#include "ftp/SessionLog.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

namespace tolvane::ftp {
namespace {

std::time_t Noon() {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = 22;
    local.tm_min = 46;
    local.tm_sec = 37;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

TEST(SessionLogFileNameTest, PlaceholdersAreReplacedInTheirFixedOrder) {
    const std::time_t now = Noon();
    EXPECT_EQ(SessionLogFileName("%USER-%IP", now, "bob", "10.0.0.5"), "bob-10.0.0.5.log");
    EXPECT_EQ(SessionLogFileName("plain", now, "bob", "10.0.0.5"), "plain.log");
    EXPECT_EQ(SessionLogFileName("%USER%USER", now, "bob", "1.2.3.4"), "bobbob.log");
    // A placeholder before an earlier-ordered one is left as it stands.
    EXPECT_EQ(SessionLogFileName("%TIME-%DATE", now, "bob", "1.2.3.4"), "%TIME-Monday,12-07-26December2026.log");
    EXPECT_EQ(SessionLogFileName("%DATE-%TIME-%USER-%IP", now, "bob", "10.0.0.5"),
              "Monday,12-07-26December2026-22:46:37-bob-10.0.0.5.log");
}

TEST(SessionLogFileNameTest, NameNeverLeadsIntoAnotherFolder) {
    EXPECT_EQ(SessionLogFileName("../../etc/%USER", Noon(), "x", "1.2.3.4"), "..-..-etc-x.log");
    EXPECT_EQ(SessionLogFileName(std::string("a\0b", 3), Noon(), "x", "1.2.3.4"), "a-b.log");
}

TEST(SessionLogTest, WritesOnlyTheRecordKindsTheAccountAsksFor) {
    TempFolder folder;
    const auto path = folder.path() / "s.log";
    LoggingSettings settings;
    settings.enabled = true;
    settings.logReplies = true;
    SessionLog log;
    ASSERT_TRUE(log.Open(path.string(), settings));
    log.WriteCommand(3, "NOOP\r\n");
    log.WriteReply(3, "200 Command okay.\r\n");
    log.WriteSystem(" -[3]- Closed connection to 10.0.0.5 ...\r\n");
    log.Close();
    const std::string text = ReadText(path);
    EXPECT_NE(text.find(" - REPLY   <- -[3]- 200 Command okay.\r\n"), std::string::npos);
    EXPECT_EQ(text.find("COMMAND"), std::string::npos);
    EXPECT_EQ(text.find("SYSTEM"), std::string::npos);
}

TEST(SessionLogTest, RecordsCarryStampAndTagAndPasswordsStayHidden) {
    TempFolder folder;
    const auto path = folder.path() / "s.log";
    LoggingSettings settings{true, "", true, true, true};
    SessionLog log;
    ASSERT_TRUE(log.Open(path.string(), settings));
    log.WriteSystem(" -[3]- Closed connection to 10.0.0.5 ...\r\n");
    log.WriteCommand(3, "CWD pub\r\n");
    log.WriteCommand(3, "pass secret\r\n");
    log.Close();
    const std::string text = ReadText(path);
    EXPECT_NE(text.find(" - SYSTEM  <> -[3]- Closed connection to 10.0.0.5 ...\r\n"), std::string::npos);
    EXPECT_NE(text.find(" - COMMAND -> -[3]- CWD pub\r\n"), std::string::npos);
    EXPECT_NE(text.find(" - COMMAND -> -[3]- pass >> Hidden <<\r\n"), std::string::npos);
    EXPECT_EQ(text.find("secret"), std::string::npos);
    EXPECT_EQ(text.find(','), 3u);  // "Mon,07Dec2026-..."
}

TEST(SessionLogTest, DisabledOrUnopenableLogWritesNothing) {
    TempFolder folder;
    SessionLog disabled;
    EXPECT_FALSE(disabled.Open((folder.path() / "off.log").string(), LoggingSettings{}));
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "off.log"));
    SessionLog missingFolder;
    EXPECT_FALSE(missingFolder.Open((folder.path() / "no" / "s.log").string(), LoggingSettings{true, "", true, true, true}));
    missingFolder.WriteSystem("x\r\n");
    EXPECT_FALSE(missingFolder.IsOpen());
}

TEST(SessionLogTest, ReopeningWritesFromTheStartWithoutTruncating) {
    TempFolder folder;
    const auto path = folder.path() / "s.log";
    WriteText(path, std::string(200, 'z'));
    SessionLog log;
    ASSERT_TRUE(log.Open(path.string(), LoggingSettings{true, "", false, true, false}));
    log.WriteReply(1, "221 Good Bye!\r\n");
    log.Close();
    const std::string text = ReadText(path);
    EXPECT_EQ(text.size(), 200u);
    EXPECT_NE(text.find("221 Good Bye!\r\nzz"), std::string::npos);
}

}  // namespace
}  // namespace tolvane::ftp
