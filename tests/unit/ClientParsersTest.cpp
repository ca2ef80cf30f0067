#include "clients/HttpResponse.h"
#include "clients/Pop3Reply.h"
#include "clients/SmtpReply.h"
#include "clients/VersionInfo.h"

#include <gtest/gtest.h>

#include <string>

using namespace tolvane::clients;

TEST(ClientParsersTest, SmtpReplyIsCollectedAcrossPiecesAndLines) {
    EXPECT_EQ(ScanSmtpReply("2").state, ReplyState::Incomplete);
    EXPECT_EQ(ScanSmtpReply("250 OK").state, ReplyState::Incomplete);
    const std::string multi = "250-first\r\n250-second\r\n";
    EXPECT_EQ(ScanSmtpReply(multi).state, ReplyState::Incomplete);
    const SmtpReply whole = ScanSmtpReply(multi + "250 last\r\n354 next\r\n");
    EXPECT_EQ(whole.state, ReplyState::Complete);
    EXPECT_EQ(whole.code, 250);
    EXPECT_EQ(whole.length, multi.size() + 10);
    EXPECT_EQ(ScanSmtpReply("221\n").code, 221);
}

TEST(ClientParsersTest, SmtpReplyRefusesJunkCodesAndEndlessLines) {
    const SmtpReply junk = ScanSmtpReply("abc\r\n");
    EXPECT_EQ(junk.state, ReplyState::Complete);
    EXPECT_EQ(junk.code, 0);
    EXPECT_EQ(ScanSmtpReply("25x ok\r\n").code, 0);
    EXPECT_EQ(ScanSmtpReply(std::string(kMaxSmtpReplyBytes, 'x')).state, ReplyState::TooLong);
    std::string endless;
    while (endless.size() < kMaxSmtpReplyBytes) endless += "250-more\r\n";
    EXPECT_EQ(ScanSmtpReply(endless).state, ReplyState::TooLong);
}

TEST(ClientParsersTest, Pop3ReplyIsOneStatusLine) {
    EXPECT_EQ(ScanPop3Reply("+OK rea").state, ReplyState::Incomplete);
    const Pop3Reply ok = ScanPop3Reply("+ok ready\r\n-ERR");
    EXPECT_EQ(ok.state, ReplyState::Complete);
    EXPECT_TRUE(ok.positive);
    EXPECT_EQ(ok.length, 11u);
    EXPECT_FALSE(ScanPop3Reply("-err no\r\n").positive);
    EXPECT_FALSE(ScanPop3Reply("abc\r\n").positive);
    EXPECT_EQ(ScanPop3Reply(std::string(kMaxPop3ReplyBytes, '+')).state, ReplyState::TooLong);
}

TEST(ClientParsersTest, VersionFileLines) {
    const VersionInfo info = ParseVersionInfo("0.3\n16\n01/02/2001\nFixes\n");
    EXPECT_EQ(info.version, "0.3");
    EXPECT_EQ(info.build, "16");
    EXPECT_EQ(info.date, "01/02/2001");
    EXPECT_EQ(info.description, "Fixes\r\n");
    // A CR stays with its line; a last line without LF is dropped.
    const VersionInfo windows = ParseVersionInfo("0.4\r\n17\r\nd\r\none\r\ntwo\r\nlast");
    EXPECT_EQ(windows.version, "0.4\r");
    EXPECT_EQ(windows.description, "one\r\r\ntwo\r\r\n");
    const VersionInfo short_ = ParseVersionInfo("0.5");
    EXPECT_EQ(short_.version, "0.5");
    EXPECT_EQ(short_.build, "");
    EXPECT_EQ(short_.description, "");
}

TEST(ClientParsersTest, ContentLengthGivesTheWholeResponseSize) {
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n";
    EXPECT_EQ(ExpectedResponseLength(header + "0.3\n"), header.size() + 4);
    EXPECT_EQ(ResponseBody(header + "0.3\n"), "0.3\n");
    const std::string lower = "HTTP/1.0 200 OK\r\ncontent-length:7\r\n\r\n";
    EXPECT_EQ(ExpectedResponseLength(lower), lower.size() + 7);
    EXPECT_FALSE(ExpectedResponseLength("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n"));
    EXPECT_FALSE(ExpectedResponseLength("HTTP/1.0 200 OK\r\n\r\nContent-Length: 4\r\n"));
    EXPECT_FALSE(ExpectedResponseLength("HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\n"));
    EXPECT_FALSE(ExpectedResponseLength("HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n"));
    EXPECT_FALSE(ExpectedResponseLength("HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n"));
    EXPECT_FALSE(ExpectedResponseLength("HTTP/1.0 200 OK\r\nContent-Length: 18446744073709551615\r\n\r\n"));
}
