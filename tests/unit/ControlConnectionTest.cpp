#include "ftp/ControlConnection.h"
#include "net/ListenSocket.h"
#include "net/SocketReactor.h"
#include "TestClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace tolvane::ftp {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::TestClient;

const std::string kBanner =
    "220-Tolvane-D v0.2 --*** Beta ***--\r\n"
    "xxx-Get your FREE Version at https://tolvane.dev\r\n"
    "xxx-\r\n";
const std::string kHelp =
    "214-Supported commands listing :\r\n"
    "214-ABOR APPE CDUP CWD  DELE HELP LIST MKD\r\n"
    "214-NOOP PASS PASV PORT QUIT REST RETR RMD\r\n"
    "214-RNFR RNTO STOR SYST USER\r\n"
    "214 Listing complete\r\n";

class ControlConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::filesystem::temp_directory_path() / ("tolvane-cc-" + std::to_string(::getpid()));
        std::filesystem::create_directories(home_);
        server_ = std::make_shared<ServerShared>(home_.string() + "/");
        server_->SetOnline(true);
        ipHome_ = std::make_shared<ServedIpHome>();
        listener_ = std::make_shared<net::ListenSocket>(ControlConnection::FactoryFor(server_, ipHome_));
        ASSERT_TRUE(listener_->CreateAt(*net::Endpoint::Parse("127.0.0.1")));
        ASSERT_TRUE(listener_->Listen(SOMAXCONN));
    }
    void TearDown() override {
        listener_->Close();
        server_->Sessions().CloseAll();
        net::SocketReactor::Instance().JoinAll();
        std::filesystem::remove_all(home_);
    }

    std::unique_ptr<TestClient> Greeted() {
        auto client = std::make_unique<TestClient>(listener_->LocalPort());
        EXPECT_EQ(client->ReadBytes(kBanner.size()), kBanner);
        EXPECT_EQ(client->ReadLine(), "220 Server ready...\r\n");
        return client;
    }

    bool LogHas(const std::string& text) const {
        for (const auto& record : server_->Log().Records())
            if (record.text == text) return true;
        return false;
    }

    std::filesystem::path home_;
    std::shared_ptr<ServerShared> server_;
    std::shared_ptr<ServedIpHome> ipHome_;
    std::shared_ptr<net::ListenSocket> listener_;
};

TEST_F(ControlConnectionTest, GreetsWithBannerAndRecordsTheRequest) {
    auto client = Greeted();
    EXPECT_TRUE(LogHas(" -[1]- Connected to 127.0.0.1\r\n"));
    const auto rows = server_->Registry().Requests().Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].cells[0], "1");
    EXPECT_EQ(rows[0].cells[1], "127.0.0.1");
    EXPECT_EQ(rows[0].cells[2], "?");
    EXPECT_EQ(rows[0].cells[4], "?");
}

TEST_F(ControlConnectionTest, WelcomeFileLinesGoOutAsContinuationLines) {
    const auto welcome = home_ / "welcome.txt";
    std::ofstream(welcome, std::ios::binary) << "Welcome\r\nBye";
    server_->SetWelcomeFile(welcome.string());
    TestClient client(listener_->LocalPort());
    EXPECT_EQ(client.ReadBytes(kBanner.size()), kBanner);
    EXPECT_EQ(client.ReadReply(), "xxx-Welcome\r\n220-Bye\r\n220-\r\n220 Server ready...\r\n");

    server_->SetWelcomeFile((home_ / "missing.txt").string());
    TestClient second(listener_->LocalPort());
    EXPECT_EQ(second.ReadBytes(kBanner.size()), kBanner);
    EXPECT_EQ(second.ReadReply(), "220 Server ready...\r\n");
    EXPECT_TRUE(LogHas(" -[2]- Unable to open specified Welcome file ...\r\n"));
}

TEST_F(ControlConnectionTest, OfflineServerRefusesAfterTheBanner) {
    server_->SetOnline(false);
    TestClient client(listener_->LocalPort());
    EXPECT_EQ(client.ReadBytes(kBanner.size()), kBanner);
    EXPECT_EQ(client.ReadLine(), "421 Server is temporarly unavailable. Try later\r\n");
    EXPECT_TRUE(client.WaitClosed());
    const auto rows = server_->Registry().Requests().Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].cells[4], "Server temporarly unavailable");
}

// FEAT, OPTS and AUTH, which clients send before they log in, are served too.
TEST_F(ControlConnectionTest, BeforeLoginOnlyUserPassHelpAbortAndTheHandshakeAreServed) {
    auto client = Greeted();
    const std::vector<std::string> refused = {"SITE", "NOOP", "RNFR", "RNTO", "SYST", "APPE", "MKD",
                                              "DELE", "RMD",  "REST", "CDUP", "PWD",  "PORT", "LIST",
                                              "CWD",  "RETR", "STOR", "TYPE", "PASV", "QUIT", "SIZE",
                                              "MLSD", "EPSV", "noop", " NOOP"};
    for (const auto& verb : refused) {
        ASSERT_TRUE(client->Send(verb + " x\r\n"));
        EXPECT_EQ(client->ReadReply(), "530 User not logged in.\r\n") << verb;
    }
    ASSERT_TRUE(client->Send("help\r\n"));
    EXPECT_EQ(client->ReadReply(), kHelp);
    // Abort forms bypass the login check: Telnet bytes before ABOR, or ABOR inside a longer verb.
    for (const std::string verb : {"ABOR", "abor", "\xff\xf4\xff\xf2" "ABOR", "ABORT"}) {
        ASSERT_TRUE(client->Send(verb + "\r\n"));
        EXPECT_EQ(client->ReadReply(), "226 ABOR command successful.\r\n");
    }
    // The substring test is case-sensitive.
    ASSERT_TRUE(client->Send("xabor\r\n"));
    EXPECT_EQ(client->ReadReply(), "530 User not logged in.\r\n");
}

TEST_F(ControlConnectionTest, EveryCompleteLineOfAPacketRunsInOrder) {
    auto client = Greeted();
    ASSERT_TRUE(client->Send("NOOP\r\nHELP\nNOOP\r\n"));
    EXPECT_EQ(client->ReadReply(), "530 User not logged in.\r\n");
    EXPECT_EQ(client->ReadReply(), kHelp);
    EXPECT_EQ(client->ReadReply(), "530 User not logged in.\r\n");

    // A line whose CR LF comes in a later packet runs once, when it is complete.
    ASSERT_TRUE(client->Send("HE"));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(client->Send("LP\r"));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(client->Send("\n"));
    EXPECT_EQ(client->ReadReply(), kHelp);
    EXPECT_EQ(client->ReadLine(200ms), std::nullopt);
}

TEST_F(ControlConnectionTest, CommandLogShowsVerbAndArgumentButHidesPasswords) {
    auto client = Greeted();
    ASSERT_TRUE(client->Send("NOOP\r\nPASS secret\r\npass other\r\nTYPE I\r\n"));
    for (int i = 0; i < 4; ++i) client->ReadReply();
    EXPECT_TRUE(LogHas(" -[1]- NOOP \r\n"));
    EXPECT_TRUE(LogHas(" -[1]- PASS >> Hidden <<\r\n"));
    EXPECT_TRUE(LogHas(" -[1]- pass >> Hidden <<\r\n"));
    EXPECT_TRUE(LogHas(" -[1]- TYPE I\r\n"));
    EXPECT_TRUE(LogHas(" -[1]- 530 User not logged in.\r\n"));
    for (const auto& record : server_->Log().Records()) {
        EXPECT_EQ(record.text.find("secret"), std::string::npos);
        EXPECT_EQ(record.text.find("other"), std::string::npos);
    }
}

TEST(CommandSplitTest, VerbAndArgumentFollowTheFirstBlank) {
    EXPECT_EQ(ControlConnection::CommandVerb("NOOP\r"), "NOOP");
    EXPECT_EQ(ControlConnection::CommandArgument("NOOP\r"), "NOOP");
    EXPECT_EQ(ControlConnection::CommandVerb("RETR my file.txt\r"), "RETR");
    EXPECT_EQ(ControlConnection::CommandArgument("RETR my file.txt\r"), "my file.txt");
    EXPECT_EQ(ControlConnection::CommandArgument("NOOP \r"), "");
    EXPECT_EQ(ControlConnection::CommandVerb(" NOOP\r"), "");
    EXPECT_EQ(ControlConnection::CommandVerb("A\rB C\r"), "A\rB");
    EXPECT_EQ(ControlConnection::CommandArgument("A\rB C\r"), "");
}

TEST_F(ControlConnectionTest, OverlongLinesAreRefusedAndTheSessionGoesOn) {
    auto client = Greeted();
    ASSERT_TRUE(client->Send(std::string(5000, 'A') + "\r\n"));
    EXPECT_EQ(client->ReadReply(), "500 Command line too long.\r\n");
    // A line that never ends is refused once and dropped up to its line feed.
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(client->Send(std::string(1000, 'B')));
    EXPECT_EQ(client->ReadReply(), "500 Command line too long.\r\n");
    ASSERT_TRUE(client->Send("tail\r\nHELP\r\n"));
    EXPECT_EQ(client->ReadReply(), kHelp);
    ASSERT_TRUE(client->Send("NOOP " + std::string(4091, 'x') + "\r\n"));  // exactly 4096 bytes
    EXPECT_EQ(client->ReadReply(), "530 User not logged in.\r\n");
}

TEST_F(ControlConnectionTest, ArbitraryBytesNeverBreakTheSession) {
    auto client = Greeted();
    std::mt19937 random(42);
    std::string junk(64 * 1024, '\0');
    for (auto& byte : junk) byte = static_cast<char>(random() % 256);
    junk += "\r\n";
    ASSERT_TRUE(client->Send(junk));
    ASSERT_TRUE(client->Send("HELP\r\n"));
    std::string replies;
    while (replies.find("214 Listing complete\r\n") == std::string::npos) {
        auto line = client->ReadLine();
        ASSERT_TRUE(line.has_value());
        replies += *line;
    }
    TestClient other(listener_->LocalPort());
    EXPECT_EQ(other.ReadBytes(kBanner.size()), kBanner);
}

TEST_F(ControlConnectionTest, ConnectionWithoutAccountTimesOut) {
    server_->SetPreLoginTimeout(1);
    auto client = Greeted();
    EXPECT_EQ(client->ReadLine(4s), "421 Connection timed-out.\r\n");
    EXPECT_TRUE(client->WaitClosed());
    EXPECT_TRUE(Eventually([&] { return LogHas(" -[1]- Timed out :  - IP : 127.0.0.1\r\n"); }));
    EXPECT_TRUE(Eventually([&] { return LogHas(" -[1]- Closed connection to 127.0.0.1 ...\r\n"); }));
}

TEST_F(ControlConnectionTest, TrickledBytesThatNeverFinishALineDoNotHoldTheConnection) {
    server_->SetPreLoginTimeout(2);
    auto client = Greeted();
    const auto start = std::chrono::steady_clock::now();
    std::optional<std::string> line;
    while (!line && std::chrono::steady_clock::now() - start < 6s) {
        client->Send("N");
        line = client->ReadLine(200ms);
    }
    EXPECT_EQ(line, "421 Connection timed-out.\r\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

TEST_F(ControlConnectionTest, ClientsThatResetOrNeverReadDoNotHurtOthers) {
    {
        auto resetting = Greeted();
        ASSERT_TRUE(resetting->Send(std::string(200, 'N') + "\r\n"));
        resetting->ResetHard();
    }
    TestClient silent(listener_->LocalPort());
    int receiveBuffer = 4096;
    setsockopt(silent.Fd(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    std::string flood;
    for (int i = 0; i < 2000; ++i) flood += "HELP\r\n";
    for (int i = 0; i < 20; ++i) silent.Send(flood);

    auto client = Greeted();
    ASSERT_TRUE(client->Send("HELP\r\n"));
    EXPECT_EQ(client->ReadReply(), kHelp);
    EXPECT_TRUE(Eventually([&] { return server_->Sessions().Size() == 2; }));
}

TEST_F(ControlConnectionTest, FiveHundredConcurrentClientsAreGreetedAndEndCleanly) {
    testing::RaiseDescriptorLimit();
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < 500; ++i) clients.push_back(std::make_unique<TestClient>(listener_->LocalPort()));
    for (auto& client : clients) {
        ASSERT_EQ(client->ReadBytes(kBanner.size()), kBanner);
        ASSERT_EQ(client->ReadLine(), "220 Server ready...\r\n");
    }
    EXPECT_EQ(listener_->ConnectionCounter(), 500);
    clients.clear();
    EXPECT_TRUE(Eventually([&] { return server_->Sessions().Size() == 0; }, 10s));
    EXPECT_EQ(server_->Registry().Requests().Count(), 500u);
}

// Delays grow per address and stay bounded; the limit refuses the address once, for the block
// time; a new window starts the count again.
TEST(LoginGuardTest, FailuresSlowTheirAddressThenRefuseItForAWhile) {
    LoginGuard guard;
    guard.Configure({.firstDelayMs = 100, .largestDelayMs = 500, .limit = 6, .windowSeconds = 60, .blockSeconds = 600});
    const auto start = LoginGuard::Clock::now();
    std::vector<long long> delays;
    for (int i = 0; i < 5; ++i) {
        const LoginGuard::Failure failure = guard.RecordFailure("10.0.0.1", start + std::chrono::seconds(i));
        delays.push_back(failure.delay.count());
        EXPECT_FALSE(failure.refusesNow);
    }
    EXPECT_EQ(delays, (std::vector<long long>{100, 200, 400, 500, 500}));
    EXPECT_FALSE(guard.Refuses("10.0.0.1", start + 5s));
    EXPECT_EQ(guard.RecordFailure("10.0.0.2", start + 5s).delay, 100ms) << "another address starts afresh";
    EXPECT_TRUE(guard.RecordFailure("10.0.0.1", start + 5s).refusesNow);
    EXPECT_TRUE(guard.Refuses("10.0.0.1", start + 604s));
    EXPECT_FALSE(guard.Refuses("10.0.0.1", start + 606s));
    EXPECT_FALSE(guard.Refuses("10.0.0.2", start + 6s));
    // Failures older than the window no longer count.
    EXPECT_EQ(guard.RecordFailure("10.0.0.2", start + 70s).delay, 100ms);
    guard.Configure({.firstDelayMs = 0, .largestDelayMs = 0, .limit = 0, .windowSeconds = 60, .blockSeconds = 600});
    for (int i = 0; i < 20; ++i) EXPECT_EQ(guard.RecordFailure("10.0.0.3", start).delay, 0ms);
    EXPECT_FALSE(guard.Refuses("10.0.0.3", start));
}

}  // namespace
}  // namespace tolvane::ftp
