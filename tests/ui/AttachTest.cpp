#include "control/AdminListener.h"
#include "control/AdminPassword.h"
#include "control/Attachment.h"
#include "control/ControlClient.h"
#include "control/ControlSocket.h"
#include "control/AdminWire.h"
#include "control/DatabaseCopy.h"
#include "store/AccountDatabase.h"
#include "net/SelfSignedCertificate.h"
#include "server/Server.h"
#include "store/ProgramSettings.h"
#include "store/TlsFiles.h"
#include "ui/AttachDialog.h"
#include "ui/LogPane.h"
#include "ui/MainWindow.h"
#include "ui/MonitorPane.h"
#include "ui/ThroughputChart.h"
#include "ui/TransferProgressDelegate.h"
#include "TempFolder.h"
#include "TestClient.h"
#include "TestHome.h"
#include "TlsLogin.h"

#include <QAction>
#include <QProcess>
#include <QSettings>
#include <QTreeWidget>
#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

using namespace tolvane;
using testing::TestClient;

namespace {

constexpr int kWaitMs = 15000;

bool LogHas(monitor::ServerLog& log, const std::string& fragment) {
    for (const auto& record : log.Records()) {
        if ((record.stamp + record.text).find(fragment) != std::string::npos) return true;
    }
    return false;
}

std::string Error(const std::variant<std::unique_ptr<control::Attachment>, std::string>& opened) {
    const auto* error = std::get_if<std::string>(&opened);
    return error ? *error : std::string();
}

}  // namespace

// A window attached to a server in this process, through the same control socket and admin
// port a tolvaned opens: the server's own threads serve it, the window's mirror follows.
class AttachTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void anAttachedWindowShowsTheServerAndActsOnItsRows();
    void aLostLinkIsSaidAndMadeAgain();
    void theAccountDatabaseIsEditedThroughTheServer();
    void theAdminPortHoldsToTheCertificateAndThePassword();
    void aWindowOnTolvanedOverTlsSlowsAndKicksItsClient();

private:
    std::unique_ptr<TestClient> Login(std::uint16_t port);
    // A download of big.bin started by a logged-in client; its data connection stays open.
    std::unique_ptr<TestClient> StartDownload(TestClient& session);
    void EnableAdminPort(const std::filesystem::path& home, std::uint16_t adminPort);
    std::unique_ptr<control::Attachment> AttachLocally();
    QAction* Action(ui::MainWindow& window, const char* name) const { return window.findChild<QAction*>(name); }

    std::unique_ptr<TempFolder> home_;
    std::unique_ptr<TempFolder> config_;
    std::uint16_t port_ = 0;
    std::unique_ptr<server::Server> server_;
    std::unique_ptr<control::ControlSocket> controlSocket_;
};

void AttachTest::init() {
    std::signal(SIGPIPE, SIG_IGN);  // as both programs do: a peer gone is an error, not an end
    home_ = std::make_unique<TempFolder>();
    config_ = std::make_unique<TempFolder>();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(config_->path().string()));
    port_ = testing::FreePort();
    store::AccountValues slow;
    slow.speedLimitMode = store::SpeedLimitMode::Static;
    slow.sendingSpeed = "10";
    const std::string root = testing::AddIpHomeWithUser(home_->path(), port_, "u", slow);
    std::ofstream(root + "big.bin", std::ios::binary) << std::string(400 * 1024, 'x');
    server_ = std::make_unique<server::Server>(home_->path());
    QVERIFY(!server_->InitDatabase());
    server_->CreateServerSockets();
    server_->GoOnline();
    auto opened = control::ControlSocket::Open(home_->path(), *server_, [] {});
    QVERIFY(std::holds_alternative<std::unique_ptr<control::ControlSocket>>(opened));
    controlSocket_ = std::move(std::get<std::unique_ptr<control::ControlSocket>>(opened));
}

void AttachTest::cleanup() {
    controlSocket_.reset();
    if (server_) server_->Shutdown();
    server_.reset();
    home_.reset();
    config_.reset();
}

std::unique_ptr<TestClient> AttachTest::Login(std::uint16_t port) {
    auto client = std::make_unique<TestClient>(port);
    client->ReadReply();
    client->Send("USER u\r\nPASS pw\r\n");
    client->ReadReply();
    client->ReadReply();
    return client;
}

std::unique_ptr<control::Attachment> AttachTest::AttachLocally() {
    control::AttachTarget target;
    target.home = home_->path();
    auto opened = control::Attachment::Open(target, {});
    if (!std::holds_alternative<std::unique_ptr<control::Attachment>>(opened)) qWarning("%s", Error(opened).c_str());
    return opened.index() == 0 ? std::move(std::get<0>(opened)) : nullptr;
}

std::unique_ptr<TestClient> AttachTest::StartDownload(TestClient& session) {
    session.Send("PASV\r\n");
    const std::string pasv = session.ReadReply();
    int h1 = 0, h2 = 0, h3 = 0, h4 = 0, p1 = 0, p2 = 0;
    std::sscanf(pasv.c_str() + pasv.find('(') + 1, "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1, &p2);
    auto data = std::make_unique<TestClient>(static_cast<std::uint16_t>(p1 * 256 + p2));
    session.Send("RETR big.bin\r\n");
    const std::string started = session.ReadReply();
    if (!started.starts_with("150 ")) qWarning("RETR answered %s", started.c_str());
    return data;
}

void AttachTest::EnableAdminPort(const std::filesystem::path& home, std::uint16_t adminPort) {
    const auto settings = home / "Settings.ini";
    const store::TlsFiles files = store::DefaultTlsFiles(home);
    std::string error;
    std::filesystem::create_directories(files.certificate.parent_path());
    QVERIFY2(net::WriteSelfSignedCertificate(files.certificate, files.key, "localhost", error), error.c_str());
    QVERIFY(store::WriteSetting(settings, control::kAdminPortKey, static_cast<int>(adminPort)));
    QVERIFY(store::WriteSetting(settings, control::kAdminAddressKey, "127.0.0.1"));
    QVERIFY(store::WriteSetting(settings, control::kAdminPasswordKey, control::HashAdminPassword("s3cret pass")));
}

void AttachTest::anAttachedWindowShowsTheServerAndActsOnItsRows() {
    auto session = Login(port_);
    const auto data = StartDownload(*session);

    auto attachment = AttachLocally();
    QVERIFY(attachment);
    ui::MainWindow window(std::move(attachment));
    window.show();
    auto* connections = window.Monitor().ConnectionsList();
    auto* transfers = window.Monitor().TransfersList();
    QTRY_COMPARE_WITH_TIMEOUT(connections->topLevelItemCount(), 1, kWaitMs);
    QCOMPARE(connections->topLevelItem(0)->text(1), QString("u"));
    QTRY_COMPARE_WITH_TIMEOUT(transfers->topLevelItemCount(), 1, kWaitMs);
    QCOMPARE(transfers->topLevelItem(0)->text(2), QString("big.bin"));
    // The status cell is drawn as a bar of its percent; its text stays, in the tooltip too.
    QTRY_VERIFY_WITH_TIMEOUT(ui::TransferProgressDelegate::PercentOf(transfers->topLevelItem(0)->text(3)), kWaitMs);
    QCOMPARE(transfers->topLevelItem(0)->toolTip(3), transfers->topLevelItem(0)->text(3));
    QCOMPARE(ui::TransferProgressDelegate::PercentOf("42.75 % / 171.0 kb"), std::optional<int>(42));
    QCOMPARE(ui::TransferProgressDelegate::PercentOf("? % / 12.0 kb"), std::optional<int>());
    // A download counts as sent in the chart.
    QTRY_VERIFY_WITH_TIMEOUT((window.Chart().SampleNow(), window.Chart().History().Samples().back().sent > 0), kWaitMs);
    QCOMPARE(window.Chart().History().Samples().back().received, 0.0);
    // The backlog: lines logged before the window attached.
    QVERIFY(LogHas(window.Administered().Log(), "User \"u\" logged in."));
    QTRY_VERIFY_WITH_TIMEOUT(window.StatusText().startsWith("Online   Sessions: 1   Transfers: 1"), kWaitMs);
    QVERIFY(!Action(window, "connectAction") || Action(window, "connectAction")->isEnabled());

    // A new limit goes to the server's transfer.
    window.Monitor().SetSpeedPrompt([](QWidget*, double shown) { return shown == 10.0 ? 3.0 : -1.0; });
    transfers->topLevelItem(0)->setSelected(true);
    QMenu* menu = window.Monitor().PrepareContextMenu(transfers);
    QVERIFY(menu);
    window.Monitor().findChild<QAction*>("changeSpeedLimitAction")->trigger();
    const auto running = monitor::TransferOf(server_->Shared().Registry().Transfers().Rows().at(0).owner);
    QCOMPARE(running->SpeedLimitBytesPerSecond(), 3u * 1024);

    // A kick ends the client's session with the farewell.
    connections->topLevelItem(0)->setSelected(true);
    QVERIFY(window.Monitor().PrepareContextMenu(connections));
    window.Monitor().findChild<QAction*>("kickUserAction")->trigger();
    std::string farewell;
    for (std::string reply; (reply = session->ReadReply()).size() && farewell.empty();)
        if (reply.starts_with("421 ")) farewell = reply;
    QCOMPARE(farewell, std::string(monitor::SessionHandle::kKickReply));
    QTRY_COMPARE_WITH_TIMEOUT(connections->topLevelItemCount(), 0, kWaitMs);

    window.GoOffline();
    QVERIFY(!server_->Shared().Online());
    QTRY_VERIFY_WITH_TIMEOUT(window.StatusText().startsWith("Offline"), kWaitMs);
    window.close();
    // Closing the window leaves the server serving.
    QVERIFY(control::ControlClient::Serves(home_->path()));
}

void AttachTest::aLostLinkIsSaidAndMadeAgain() {
    server_->Shared().Log().AppendLine(" - before attaching\r\n", monitor::SystemMessage);
    auto attachment = AttachLocally();
    QVERIFY(attachment);
    QTRY_VERIFY_WITH_TIMEOUT(attachment->Online(), kWaitMs);
    controlSocket_.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!attachment->Linked(), kWaitMs);
    QVERIFY(LogHas(attachment->Log(), "Lost the link to " + home_->path().string()));
    auto reopened = control::ControlSocket::Open(home_->path(), *server_, [] {});
    controlSocket_ = std::move(std::get<std::unique_ptr<control::ControlSocket>>(reopened));
    QTRY_VERIFY_WITH_TIMEOUT(attachment->Linked(), kWaitMs);
    QVERIFY(LogHas(attachment->Log(), "Attached again to " + home_->path().string()));
    // The backlog sent again is not shown twice.
    int started = 0;
    for (const auto& record : attachment->Log().Records())
        started += record.text.find("before attaching") != std::string::npos;
    QCOMPARE(started, 1);
}

// Only what the administrator changed goes back: a file the server changed meanwhile stays.
void AttachTest::theAccountDatabaseIsEditedThroughTheServer() {
    auto attachment = AttachLocally();
    QVERIFY(attachment);
    const control::Answer fetched = attachment->FetchDatabase();
    QVERIFY(fetched.ok);
    TempFolder copy;
    const auto database = copy.path() / "Database";
    QVERIFY(control::WriteDatabase(fetched.text, database));
    const std::string ipHome = "127.0.0.1-" + std::to_string(port_);
    const auto users = store::UsersDir(database, ipHome);
    QVERIFY(std::filesystem::exists(store::UserFile(users, "u")));
    store::AccountValues newbie;
    newbie.password = "pw2";
    newbie.rootDir = (home_->path() / "files").string() + "/";
    QVERIFY(store::CreateUser(users, "newbie"));
    QVERIFY(store::WriteAccount(store::UserFile(users, "newbie"), newbie));
    const auto served = store::UsersDir(store::DatabaseDir(home_->path()), ipHome);
    std::ofstream(store::UserFile(served, "u"), std::ios::app) << "; written by the server meanwhile\n";

    QVERIFY(attachment->PutDatabaseChanges(control::DatabaseChanges(fetched.text, database)).ok);
    QVERIFY(std::filesystem::exists(store::UserFile(served, "newbie")));
    std::ifstream kept(store::UserFile(served, "u"));
    QVERIFY(std::string(std::istreambuf_iterator<char>(kept), {}).find("meanwhile") != std::string::npos);
    auto client = std::make_unique<TestClient>(port_);
    client->ReadReply();
    client->Send("USER newbie\r\nPASS pw2\r\n");
    client->ReadReply();
    QVERIFY(client->ReadReply().starts_with("230 "));

    for (const std::string escape : {"../escape.txt", "/tmp/escape.txt", "a/../../escape.txt"}) {
        const auto refused = attachment->PutDatabaseChanges(control::JoinFields({"f", escape, "x"}) + "\n");
        QVERIFY2(!refused.ok, escape.c_str());
    }
    QVERIFY(!std::filesystem::exists(home_->path() / "escape.txt"));
}

void AttachTest::theAdminPortHoldsToTheCertificateAndThePassword() {
    const std::uint16_t adminPort = testing::FreePort();
    EnableAdminPort(home_->path(), adminPort);
    const store::TlsFiles files = store::DefaultTlsFiles(home_->path());
    std::string error;
    auto listening = control::AdminListener::Open(home_->path(), *server_, [] {});
    QVERIFY(std::holds_alternative<std::unique_ptr<control::AdminListener>>(listening));
    auto listener = std::move(std::get<std::unique_ptr<control::AdminListener>>(listening));

    control::AttachTarget target;
    target.host = "127.0.0.1";
    target.port = std::to_string(adminPort);
    target.password = "s3cret pass";
    const std::string fingerprint = control::CertificateFingerprint(files.certificate);
    int asked = 0;
    const auto trust = [&](bool answer) {
        return [&, answer](const std::string& where, const std::string& seen) {
            return ui::KnownServers::Trust(where, seen, [&](const QString&, const QString& shown) {
                ++asked;
                return answer && shown.toStdString() == fingerprint;
            });
        };
    };

    // Declined at first sight: not attached, not remembered.
    auto declined = control::Attachment::Open(target, trust(false));
    QVERIFY(Error(declined).find("was not trusted") != std::string::npos);
    QCOMPARE(asked, 1);

    target.password = "wrong";
    auto refused = control::Attachment::Open(target, trust(true));
    QCOMPARE(Error(refused), std::string("wrong admin password"));
    QCOMPARE(asked, 2);

    // Confirmed once (as SSH does, before the password), then remembered: no second question.
    target.password = "s3cret pass";
    auto attached = control::Attachment::Open(target, trust(true));
    QCOMPARE(Error(attached), std::string());
    QTRY_VERIFY_WITH_TIMEOUT(std::get<0>(attached)->Online(), kWaitMs);
    QCOMPARE(std::get<0>(attached)->Run({"status"}).ok, true);
    auto again = control::Attachment::Open(target, trust(false));
    QCOMPARE(Error(again), std::string());
    QCOMPARE(asked, 2);

    // Another certificate on the same host and port is refused without asking.
    attached = std::string();
    again = std::string();
    listener.reset();
    QVERIFY(net::WriteSelfSignedCertificate(files.certificate, files.key, "localhost", error));
    listening = control::AdminListener::Open(home_->path(), *server_, [] {});
    QVERIFY(std::holds_alternative<std::unique_ptr<control::AdminListener>>(listening));
    auto changed = control::Attachment::Open(target, trust(true));
    QVERIFY(Error(changed).find("was not trusted") != std::string::npos);
    QCOMPARE(asked, 2);
}

void AttachTest::aWindowOnTolvanedOverTlsSlowsAndKicksItsClient() {
    const char* tolvaned = std::getenv("TOLVANED");
    if (!tolvaned) QSKIP("TOLVANED names no built server");
    TempFolder home;
    const std::uint16_t port = testing::FreePort();
    const std::uint16_t adminPort = testing::FreePort();
    store::AccountValues slow;
    slow.speedLimitMode = store::SpeedLimitMode::Static;
    slow.sendingSpeed = "10";
    const std::string root = testing::AddIpHomeWithUser(home.path(), port, "u", slow);
    std::ofstream(root + "big.bin", std::ios::binary) << std::string(400 * 1024, 'x');
    EnableAdminPort(home.path(), adminPort);
    QProcess daemon;
    daemon.setStandardOutputFile(QProcess::nullDevice());
    daemon.start(tolvaned, {"--home", QString::fromStdString(home.path().string())});
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += daemon.readAllStandardError()).contains("open for attached windows"), kWaitMs);

    auto session = Login(port);
    const auto data = StartDownload(*session);
    control::AttachTarget target;
    target.host = "127.0.0.1";
    target.port = std::to_string(adminPort);
    target.password = "s3cret pass";
    auto opened = control::Attachment::Open(target, [](const std::string&, const std::string&) { return true; });
    QCOMPARE(Error(opened), std::string());
    ui::MainWindow window(std::move(std::get<0>(opened)));
    window.show();
    auto* transfers = window.Monitor().TransfersList();
    QTRY_COMPARE_WITH_TIMEOUT(transfers->topLevelItemCount(), 1, kWaitMs);

    window.Monitor().SetSpeedPrompt([](QWidget*, double) { return 2.0; });
    transfers->topLevelItem(0)->setSelected(true);
    QVERIFY(window.Monitor().PrepareContextMenu(transfers));
    window.Monitor().findChild<QAction*>("changeSpeedLimitAction")->trigger();
    // The server's own figure, as its next listing brings it.
    const auto transferOfRow = [&] {
        const auto rows = window.Administered().Registry().Transfers().Rows();
        return rows.empty() ? nullptr : monitor::TransferOf(rows.front().owner);
    };
    QTRY_VERIFY_WITH_TIMEOUT(transferOfRow() && transferOfRow()->SpeedLimitBytesPerSecond() == 2048, kWaitMs);

    auto* connections = window.Monitor().ConnectionsList();
    QTRY_COMPARE_WITH_TIMEOUT(connections->topLevelItemCount(), 1, kWaitMs);
    QVERIFY(connections->topLevelItem(0)->icon(0).isNull());
    connections->topLevelItem(0)->setSelected(true);
    QVERIFY(window.Monitor().PrepareContextMenu(connections));
    window.Monitor().findChild<QAction*>("kickUserAction")->trigger();
    std::string farewell;
    for (std::string reply; farewell.empty() && !(reply = session->ReadReply()).empty();)
        if (reply.starts_with("421 ")) farewell = reply;
    QCOMPARE(farewell, std::string(monitor::SessionHandle::kKickReply));

    // A session that said AUTH TLS is marked in the attached window too.
    const testing::TlsLogin secured(port, "u", "pw");
    QVERIFY(secured.LoggedIn());
    QTRY_VERIFY_WITH_TIMEOUT(connections->topLevelItemCount() == 1 &&
                                 connections->topLevelItem(0)->toolTip(0) == "Encrypted (TLS)" &&
                                 !connections->topLevelItem(0)->icon(0).isNull(),
                             kWaitMs);

    window.close();
    daemon.terminate();
    QVERIFY(daemon.waitForFinished(kWaitMs));
    QCOMPARE(daemon.exitCode(), 0);
}

QTEST_MAIN(AttachTest)
#include "AttachTest.moc"
