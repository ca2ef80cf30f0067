#include "ftp/ControlConnection.h"
#include "ftp/DataSocket.h"
#include "store/AccountDatabase.h"
#include "server/Server.h"
#include "TempFolder.h"
#include "TestClient.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

namespace tolvane {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::TestClient;

// A server on a free loopback port with one user whose downloads are paced to 10 kb/s.
class SessionOperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto database = store::DatabaseDir(home_.path());
        const std::string title = "127.0.0.1-" + std::to_string(port_);
        root_ = (home_.path() / "files").string() + "/";
        std::filesystem::create_directories(root_);
        std::filesystem::create_directories(database);
        std::ofstream(root_ + "big.bin") << std::string(200 * 1024, 'x');
        store::IpHome ipHome;
        ipHome.serverIp = "127.0.0.1";
        ipHome.serverPort = std::to_string(port_);
        store::AccountValues user;
        user.password = "pw";
        user.rootDir = root_;
        user.accessingRules = {{root_, "RWDLI"}};
        user.speedLimitMode = store::SpeedLimitMode::Static;
        user.sendingSpeed = "10";
        ASSERT_TRUE(store::CreateIpHome(database, title));
        ASSERT_TRUE(store::WriteIpHome(store::IpHomeFile(database, title), ipHome));
        ASSERT_TRUE(store::CreateUser(store::UsersDir(database, title), "u"));
        ASSERT_TRUE(store::WriteAccount(store::UserFile(store::UsersDir(database, title), "u"), user));
        server_ = std::make_unique<server::Server>(home_.path());
        ASSERT_FALSE(server_->InitDatabase());
        server_->CreateServerSockets();
        server_->GoOnline();
    }
    void TearDown() override { server_->Shutdown(); }

    // Logs in and starts a passive transfer; returns the control client and the data client.
    std::pair<std::unique_ptr<TestClient>, std::unique_ptr<TestClient>> StartTransfer(const std::string& command) {
        auto control = std::make_unique<TestClient>(port_);
        control->ReadReply();
        control->Send("USER u\r\nPASS pw\r\nPASV\r\n");
        control->ReadReply();
        EXPECT_EQ(control->ReadReply().substr(0, 4), "230 ");
        const std::string pasv = control->ReadReply();
        const auto numbers = pasv.substr(pasv.find('(') + 1);
        int h1, h2, h3, h4, p1, p2;
        EXPECT_EQ(std::sscanf(numbers.c_str(), "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1, &p2), 6);
        auto data = std::make_unique<TestClient>(static_cast<std::uint16_t>(p1 * 256 + p2));
        control->Send(command + "\r\n");
        EXPECT_EQ(control->ReadReply().substr(0, 4), "150 ");
        return {std::move(control), std::move(data)};
    }

    std::shared_ptr<ftp::DataSocket> RunningTransfer() {
        std::shared_ptr<ftp::DataSocket> socket;
        Eventually([&] {
            const auto rows = server_->Shared().Registry().Transfers().Rows();
            if (!rows.empty()) socket = std::static_pointer_cast<ftp::DataSocket>(monitor::TransferOf(rows.front().owner));
            return socket != nullptr;
        });
        return socket;
    }

    std::shared_ptr<ftp::ControlConnection> LoggedInSession() {
        const auto rows = server_->Shared().Registry().Connections().Rows();
        return rows.empty() ? nullptr : std::static_pointer_cast<ftp::ControlConnection>(monitor::SessionOf(rows.front().owner));
    }

    TempFolder home_;
    std::uint16_t port_ = testing::FreePort();
    std::string root_;
    std::unique_ptr<server::Server> server_;
};

TEST_F(SessionOperationsTest, ClosingADownloadAnswersItAsFailed) {
    auto [control, data] = StartTransfer("RETR big.bin");
    const auto transfer = RunningTransfer();
    ASSERT_TRUE(transfer);
    EXPECT_EQ(transfer->CurrentSpeedLimit().bytesPerSecond, 10240u);
    transfer->CloseTransfer();
    EXPECT_EQ(control->ReadReply(), "426 Data connection closed, transfer failed.\r\n");
    EXPECT_TRUE(Eventually([&] { return server_->Shared().Registry().Transfers().Count() == 0; }));
    EXPECT_TRUE(data->WaitClosed());
}

TEST_F(SessionOperationsTest, RaisingTheLimitOfARunningTransferLetsItFinish) {
    auto [control, data] = StartTransfer("RETR big.bin");
    const auto transfer = RunningTransfer();
    ASSERT_TRUE(transfer);
    transfer->ChangeSpeedLimit(0);
    EXPECT_FALSE(transfer->CurrentSpeedLimit().on);
    EXPECT_EQ(data->ReadBytes(200 * 1024, 5s).size(), 200u * 1024);
    EXPECT_EQ(control->ReadReply(), "226 Transfer complete.\r\n");
}

TEST_F(SessionOperationsTest, KickEndsTheSessionWithItsTransfers) {
    auto [control, data] = StartTransfer("STOR up.bin");
    data->Send(std::string(4096, 'u'));
    ASSERT_TRUE(RunningTransfer());
    const auto session = LoggedInSession();
    ASSERT_TRUE(session);
    session->AdjustCredit(5000);
    EXPECT_EQ(session->Credit(), 5000);
    session->SendReply("421 You have been kicked from the system, Have a nice day :)\r\n");
    session->Kick();
    EXPECT_EQ(control->ReadReply(), "421 You have been kicked from the system, Have a nice day :)\r\n");
    EXPECT_TRUE(control->WaitClosed());
    EXPECT_TRUE(data->WaitClosed());
    EXPECT_TRUE(Eventually([&] { return server_->Shared().Registry().Transfers().Count() == 0; }));
    EXPECT_TRUE(Eventually([&] { return server_->Shared().Sessions().Size() == 0; }));
}

TEST_F(SessionOperationsTest, SessionThatEndsTakesItsTransferAlong) {
    auto [control, data] = StartTransfer("RETR big.bin");
    ASSERT_TRUE(RunningTransfer());
    control.reset();  // the client vanishes; its paced download must not run on
    EXPECT_TRUE(data->WaitClosed(3s));
    EXPECT_TRUE(Eventually([&] { return server_->Shared().Registry().Transfers().Count() == 0; }));
    for (const auto& ipHome : server_->ServedIpHomes()) EXPECT_EQ(ipHome->runningTransfers.load(), 0);
}

// Sessions of one account take from one credit kept in its file: no byte is taken twice, none
// is lost, and a download that ends after its session still gives back what it did not send.
TEST(SessionCreditTest, SessionsSharingACreditTakeEachByteOnceAndLoseNone) {
    TempFolder folder;
    const std::filesystem::path file = folder.path() / "u.FTP_User";
    WriteText(file, "[RATIO]\nCredit=50\n");
    const auto first = std::make_shared<ftp::SessionCredit>();
    const auto second = std::make_shared<ftp::SessionCredit>();
    first->Reset(50, file);
    second->Reset(50, file);
    std::atomic<int> taken{0};
    const auto takeBytes = [&taken](ftp::SessionCredit& credit) {
        for (int i = 0; i < 40; ++i)
            if (credit.Reserve(1, true)) ++taken;
    };
    std::thread one(takeBytes, std::ref(*first));
    std::thread other(takeBytes, std::ref(*second));
    one.join();
    other.join();
    EXPECT_EQ(taken.load(), 50);
    EXPECT_EQ(store::ReadProfileInt(file, "RATIO", "Credit", -1), 0);

    first->Adjust(100);  // an upload earns
    ASSERT_TRUE(first->Reserve(100, true));
    auto download = std::make_shared<ftp::CreditReservation>(first, 100, true);
    first->WriteBack();
    second->WriteBack();  // it read 50 at login and must not write that back
    EXPECT_EQ(store::ReadProfileInt(file, "RATIO", "Credit", -1), 0);
    download->Settle(40);
    EXPECT_EQ(store::ReadProfileInt(file, "RATIO", "Credit", -1), 60);
}

}  // namespace
}  // namespace tolvane
