#include "ftp/ControlConnection.h"
#include "ftp/DataSocket.h"
#include "net/SelfSignedCertificate.h"
#include "store/AccountDatabase.h"
#include "store/ProfileFile.h"
#include "store/TlsFiles.h"
#include "control/HostedServer.h"
#include "server/Server.h"
#include "ui/CreditDialog.h"
#include "ui/ExtendedInfoDialog.h"
#include "ui/MonitorPane.h"
#include "ui/ServerVariablesDialog.h"
#include "ui/SpeedLimitDialog.h"
#include "TempFolder.h"
#include "TestClient.h"
#include "TestHome.h"
#include "TlsLogin.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>

using namespace tolvane;
using testing::TestClient;
using ui::MonitorPane;

namespace {

using namespace std::chrono_literals;

QStringList Cells(QTreeWidget* list, int row) {
    QStringList cells;
    QTreeWidgetItem* item = list->topLevelItem(row);
    for (int column = 0; item && column < list->columnCount(); ++column) cells << item->text(column);
    return cells;
}

// The ID column as the view shows it and as the registry holds it.
QStringList ShownIds(QTreeWidget* list) {
    QStringList ids;
    for (int row = 0; row < list->topLevelItemCount(); ++row) ids << list->topLevelItem(row)->text(0);
    return ids;
}

QStringList HeldIds(const monitor::MonitorTable& table) {
    QStringList ids;
    for (const auto& row : table.Rows()) ids << QString::fromStdString(row.cells.at(0));
    return ids;
}

QStringList Headers(QTreeWidget* list) {
    QStringList headers;
    for (int column = 0; column < list->columnCount(); ++column) headers << list->headerItem()->text(column);
    return headers;
}

QList<int> Widths(QTreeWidget* list) {
    QList<int> widths;
    for (int column = 0; column < list->columnCount(); ++column) widths << list->header()->sectionSize(column);
    return widths;
}

QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) texts << (action->isSeparator() ? QString("|") : action->text());
    return texts;
}

// Answers the next modal dialog of type D as soon as it shows.
template <typename D>
void WhenModalShows(std::function<void(D*)> answer) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(dialog);
        }
    });
    timer->start(10);
}

void Answer(QDialog* dialog, const char* edit, const QString& text, const char* button) {
    dialog->findChild<QLineEdit*>(edit)->setText(text);
    dialog->findChild<QPushButton*>(button)->click();
}

}  // namespace

class MonitorPaneTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsShowTheirColumnsAndMenus();
    void loggedInClientGetsARow();
    void anEncryptedSessionIsMarkedAndAPlainOneIsNot();
    void downloadRowComesAndGoes();
    void rightClickWithoutSelectionShowsNothing();
    void kickActsOnTheUpperSelectedRow();
    void closeTransferRemovesExactlyThatRow();
    void giveTakeCreditSetsTheEnteredCredit();
    void changeSpeedLimitChangesTheRunningTransfer();
    void clearListEmptiesOnlyTheRequests();
    void extendedInfoFollowsItsSession();
    void updateAccountInfoRereadsTheAccount();
    void serverVariablesShowTheFirstIpHome();

private:
    // A logged-in control connection; the pane shows its row once logged in.
    std::unique_ptr<TestClient> Login(const std::string& user);
    // Logs in, opens a passive data connection and sends the transfer command.
    std::pair<std::unique_ptr<TestClient>, std::unique_ptr<TestClient>> StartTransfer(const std::string& user,
                                                                                       const std::string& command);
    std::shared_ptr<ftp::ControlConnection> SessionOf(int row) const;
    std::shared_ptr<ftp::DataSocket> TransferOf(int row) const;
    QTreeWidget* Connections() const { return pane_->ConnectionsList(); }
    QTreeWidget* Transfers() const { return pane_->TransfersList(); }
    QTreeWidget* Requests() const { return pane_->RequestsList(); }
    QAction* Action(const char* name) const { return pane_->findChild<QAction*>(name); }
    // Selects exactly these rows and opens the list's menu as a right click would.
    QMenu* SelectAndPrepare(QTreeWidget* list, std::initializer_list<int> rows);

    std::unique_ptr<TempFolder> home_;
    std::uint16_t port_ = 0;
    std::string root_;
    std::filesystem::path usersDir_;
    std::unique_ptr<server::Server> server_;
    std::unique_ptr<control::HostedServer> hosted_;
    std::unique_ptr<MonitorPane> pane_;
};

// Users: "u" sends at 10 kb/s, "r" has a byte ratio with 1200 bytes of credit, "f" is unlimited.
void MonitorPaneTest::init() {
    home_ = std::make_unique<TempFolder>();
    port_ = testing::FreePort();
    const auto database = store::DatabaseDir(home_->path());
    const std::string title = "127.0.0.1-" + std::to_string(port_);
    root_ = (home_->path() / "files").string() + "/";
    std::filesystem::create_directories(root_ + "sub");
    std::filesystem::create_directories(database);
    WriteText(root_ + "big.bin", std::string(200 * 1024, 'x'));
    WriteText(root_ + "small.bin", std::string(20 * 1024, 's'));
    WriteText(root_ + "tiny.txt", std::string(3 * 1024, 't'));
    store::IpHome ipHome;
    ipHome.serverIp = "127.0.0.1";
    ipHome.serverPort = std::to_string(port_);
    ipHome.maxUsers = 7;
    ipHome.maxTransfers = 5;
    ipHome.storeOverwrite = 1;
    QVERIFY(store::CreateIpHome(database, title));
    QVERIFY(store::WriteIpHome(store::IpHomeFile(database, title), ipHome));
    usersDir_ = store::UsersDir(database, title);
    const auto addUser = [&](const std::string& name, const std::function<void(store::AccountValues&)>& shape) {
        store::AccountValues user;
        user.password = "pw";
        user.rootDir = root_;
        user.accessingRules = {{root_, "RWDLI"}};
        shape(user);
        QVERIFY(store::CreateUser(usersDir_, name));
        QVERIFY(store::WriteAccount(store::UserFile(usersDir_, name), user));
    };
    addUser("u", [](store::AccountValues& user) {
        user.speedLimitMode = store::SpeedLimitMode::Static;
        user.sendingSpeed = "10";
    });
    addUser("r", [](store::AccountValues& user) {
        user.ratioEnabled = true;
        user.ratioType = "Bytes per Session";
        user.upload = "1";
        user.download = "1";
        user.credit = "1200";
    });
    addUser("f", [](store::AccountValues&) {});
    // The program-wide certificate: the home offers AUTH TLS.
    const store::TlsFiles tls = store::DefaultTlsFiles(home_->path());
    std::filesystem::create_directories(tls.certificate.parent_path());
    std::string error;
    QVERIFY2(net::WriteSelfSignedCertificate(tls.certificate, tls.key, "localhost", error), error.c_str());
    server_ = std::make_unique<server::Server>(home_->path());
    QVERIFY(!server_->InitDatabase());
    server_->CreateServerSockets();
    server_->GoOnline();
    hosted_ = std::make_unique<control::HostedServer>(*server_);
    pane_ = std::make_unique<MonitorPane>(*hosted_);
    pane_->resize(600, 300);
    pane_->show();
}

void MonitorPaneTest::cleanup() {
    pane_.reset();
    hosted_.reset();
    if (server_) server_->Shutdown();
    server_.reset();
    home_.reset();
}

std::unique_ptr<TestClient> MonitorPaneTest::Login(const std::string& user) {
    auto client = std::make_unique<TestClient>(port_);
    client->ReadReply();
    client->Send("USER " + user + "\r\nPASS pw\r\n");
    client->ReadReply();
    const std::string reply = client->ReadReply();
    if (reply.substr(0, 4) != "230 ") qWarning("login of %s answered %s", user.c_str(), reply.c_str());
    return client;
}

std::pair<std::unique_ptr<TestClient>, std::unique_ptr<TestClient>> MonitorPaneTest::StartTransfer(
    const std::string& user, const std::string& command) {
    auto control = Login(user);
    control->Send("PASV\r\n");
    const std::string pasv = control->ReadReply();
    int h1 = 0, h2 = 0, h3 = 0, h4 = 0, p1 = 0, p2 = 0;
    std::sscanf(pasv.c_str() + pasv.find('(') + 1, "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1, &p2);
    auto data = std::make_unique<TestClient>(static_cast<std::uint16_t>(p1 * 256 + p2));
    control->Send(command + "\r\n");
    const std::string started = control->ReadReply();
    if (started.substr(0, 4) != "150 ") qWarning("%s answered %s", command.c_str(), started.c_str());
    return {std::move(control), std::move(data)};
}

std::shared_ptr<ftp::ControlConnection> MonitorPaneTest::SessionOf(int row) const {
    const auto rows = server_->Shared().Registry().Connections().Rows();
    if (row >= static_cast<int>(rows.size())) return nullptr;
    return std::static_pointer_cast<ftp::ControlConnection>(monitor::SessionOf(rows[static_cast<std::size_t>(row)].owner));
}

std::shared_ptr<ftp::DataSocket> MonitorPaneTest::TransferOf(int row) const {
    const auto rows = server_->Shared().Registry().Transfers().Rows();
    if (row >= static_cast<int>(rows.size())) return nullptr;
    return std::static_pointer_cast<ftp::DataSocket>(monitor::TransferOf(rows[static_cast<std::size_t>(row)].owner));
}

QMenu* MonitorPaneTest::SelectAndPrepare(QTreeWidget* list, std::initializer_list<int> rows) {
    list->clearSelection();
    for (const int row : rows) list->topLevelItem(row)->setSelected(true);
    return pane_->PrepareContextMenu(list);
}

void MonitorPaneTest::listsShowTheirColumnsAndMenus() {
    QCOMPARE(pane_->count(), 3);
    QCOMPARE(pane_->tabText(0), QString("Connections"));
    QCOMPARE(pane_->tabText(1), QString("Transfers"));
    QCOMPARE(pane_->tabText(2), QString("Connection-Requests"));
    QCOMPARE(pane_->currentWidget(), Connections());

    QCOMPARE(Headers(Connections()), QStringList({"ID", "User", "IP", "Connected", "Current Dir", "Server IP Home"}));
    const auto units = [this](QList<int> dialogUnits) {
        for (int& width : dialogUnits) width = ui::DialogUnitsToPixels(*Connections(), width);
        return dialogUnits;
    };
    QCOMPARE(Widths(Connections()), units({40, 80, 80, 80, 80, 80}));
    QCOMPARE(Headers(Transfers()), QStringList({"ID", "Action", "Filename", "Status", "Speed", "Server IP Home"}));
    QCOMPARE(Widths(Transfers()), units({40, 80, 80, 80, 80, 80}));
    QCOMPARE(Headers(Requests()), QStringList({"ID", "IP", "Succeed", "Time", "Reason"}));
    QCOMPARE(Widths(Requests()), units({40, 80, 55, 55, 80}));

    QCOMPARE(MenuTexts(pane_->findChild<QMenu*>("connectionsMenu")),
             QStringList({"View Extended Info", "Update Account Info", "|", "Give / Take Credit", "|", "Kick User"}));
    QCOMPARE(MenuTexts(pane_->findChild<QMenu*>("transfersMenu")), QStringList({"Close Transfer", "Change Speed Limit"}));
    QCOMPARE(MenuTexts(pane_->findChild<QMenu*>("requestsMenu")), QStringList({"Clear List"}));
}

void MonitorPaneTest::loggedInClientGetsARow() {
    auto client = Login("u");
    QTRY_COMPARE(Connections()->topLevelItemCount(), 1);
    const QStringList cells = Cells(Connections(), 0);
    QCOMPARE(cells.at(0), QString::number(SessionOf(0)->ConnectionNumber()));
    QCOMPARE(cells.at(1), QString("u"));
    QCOMPARE(cells.at(2), QString("127.0.0.1"));
    QVERIFY2(QRegularExpression("^[A-Z][a-z]{2},\\d{2}[A-Z][a-z]{2}\\d{4}-\\d{2}:\\d{2}:\\d{2}$").match(cells.at(3)).hasMatch(),
             qPrintable(cells.at(3)));
    QCOMPARE(cells.at(4), QString::fromStdString(root_));
    QCOMPARE(cells.at(5), QString("127.0.0.1:%1").arg(port_));
    QTRY_COMPARE(Cells(Requests(), 0).mid(1, 2), QStringList({"127.0.0.1", "Yes"}));
    QCOMPARE(Cells(Requests(), 0).at(4), QString("-"));

    client->Send("CWD sub\r\n");
    QCOMPARE(client->ReadReply().substr(0, 4), std::string("250 "));
    QTRY_COMPARE(Cells(Connections(), 0).at(4), QString::fromStdString(root_ + "sub/"));

    client->Send("QUIT\r\n");
    QTRY_COMPARE(Connections()->topLevelItemCount(), 0);
    QCOMPARE(Requests()->topLevelItemCount(), 1);  // requests stay after the client left
}

// The padlock sits beside the ID: a plain session's row and every cell's text stay as they were.
void MonitorPaneTest::anEncryptedSessionIsMarkedAndAPlainOneIsNot() {
    const auto plain = Login("f");
    const testing::TlsLogin secured(port_, "r", "pw");
    QVERIFY(secured.LoggedIn());
    QTRY_COMPARE(Connections()->topLevelItemCount(), 2);
    const auto rows = server_->Shared().Registry().Connections().Rows();
    for (int row = 0; row < 2; ++row) {
        QTreeWidgetItem* item = Connections()->topLevelItem(row);
        const bool encrypted = item->text(monitor::ConnectionColumns::User) == "r";
        QCOMPARE(rows[static_cast<std::size_t>(row)].encrypted, encrypted);
        QCOMPARE(item->icon(monitor::ConnectionColumns::Id).isNull(), !encrypted);
        QCOMPARE(item->toolTip(monitor::ConnectionColumns::Id), encrypted ? QString("Encrypted (TLS)") : QString());
        QStringList held;
        for (const auto& cell : rows[static_cast<std::size_t>(row)].cells) held << QString::fromStdString(cell);
        QCOMPARE(Cells(Connections(), row), held);
    }
    QCOMPARE(std::count_if(rows.begin(), rows.end(), [](const monitor::MonitorRow& row) { return row.encrypted; }), 1);
}

void MonitorPaneTest::downloadRowComesAndGoes() {
    auto [control, data] = StartTransfer("u", "RETR small.bin");
    QTRY_COMPARE(Transfers()->topLevelItemCount(), 1);
    const QStringList cells = Cells(Transfers(), 0);
    QCOMPARE(cells.at(0), Cells(Connections(), 0).at(0));
    QCOMPARE(cells.at(1), QString("Downloading"));
    QCOMPARE(cells.at(2), QString("small.bin"));
    QCOMPARE(cells.at(5), QString("127.0.0.1:%1").arg(port_));

    QCOMPARE(data->ReadBytes(20 * 1024, 10s).size(), std::size_t{20 * 1024});
    QCOMPARE(control->ReadReply(), std::string("226 Transfer complete.\r\n"));
    QTRY_COMPARE(Transfers()->topLevelItemCount(), 0);
    QCOMPARE(Connections()->topLevelItemCount(), 1);
}

void MonitorPaneTest::rightClickWithoutSelectionShowsNothing() {
    auto client = Login("u");
    QTRY_COMPARE(Connections()->topLevelItemCount(), 1);
    Connections()->clearSelection();
    QVERIFY(!pane_->PrepareContextMenu(Connections()));
    emit Connections()->customContextMenuRequested(QPoint(5, 5));
    QVERIFY(!QApplication::activePopupWidget());

    // With a row selected the menu pops up below the click.
    Connections()->topLevelItem(0)->setSelected(true);
    QMenu* shown = nullptr;
    QTimer::singleShot(50, [&] {
        shown = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (shown) shown->close();
    });
    emit Connections()->customContextMenuRequested(QPoint(5, 5));
    QCOMPARE(shown, pane_->findChild<QMenu*>("connectionsMenu"));
    QVERIFY(client->Send("NOOP\r\n"));
    QCOMPARE(client->ReadReply().substr(0, 4), std::string("200 "));
}

void MonitorPaneTest::kickActsOnTheUpperSelectedRow() {
    auto first = Login("u");
    QTRY_COMPARE(Connections()->topLevelItemCount(), 1);
    const QString firstId = Cells(Connections(), 0).at(0);
    auto second = Login("u");
    QTRY_COMPARE(Connections()->topLevelItemCount(), 2);
    QCOMPARE(ShownIds(Connections()), HeldIds(server_->Shared().Registry().Connections()));
    QVERIFY(Cells(Connections(), 0).at(0) != firstId);  // the newer login is listed on top

    QVERIFY(SelectAndPrepare(Connections(), {0, 1}));
    Action("kickUserAction")->trigger();
    QCOMPARE(second->ReadReply(), std::string("421 You have been kicked from the system, Have a nice day :)\r\n"));
    QVERIFY(second->WaitClosed());
    QTRY_COMPARE(Connections()->topLevelItemCount(), 1);
    QCOMPARE(ShownIds(Connections()), QStringList{firstId});
    QCOMPARE(HeldIds(server_->Shared().Registry().Connections()), QStringList{firstId});
    QVERIFY(first->Send("NOOP\r\n"));
    QCOMPARE(first->ReadReply().substr(0, 4), std::string("200 "));
    bool logged = false;
    for (const auto& record : server_->Shared().Log().Records())
        logged = logged || record.text.find("Kicked User : u - IP : 127.0.0.1") != std::string::npos;
    QVERIFY(logged);
}

void MonitorPaneTest::closeTransferRemovesExactlyThatRow() {
    auto [control1, data1] = StartTransfer("u", "RETR big.bin");
    QTRY_COMPARE(Transfers()->topLevelItemCount(), 1);
    auto [control2, data2] = StartTransfer("u", "RETR big.bin");
    QTRY_COMPARE(Transfers()->topLevelItemCount(), 2);
    auto& held = server_->Shared().Registry().Transfers();
    QCOMPARE(ShownIds(Transfers()), HeldIds(held));
    const QString upperId = HeldIds(held).at(0);
    const auto upper = TransferOf(0);

    // The lower row is the first transfer.
    QVERIFY(SelectAndPrepare(Transfers(), {1}));
    Action("closeTransferAction")->trigger();
    QCOMPARE(control1->ReadReply(), std::string("426 Data connection closed, transfer failed.\r\n"));
    QVERIFY(data1->WaitClosed());
    QTRY_COMPARE(Transfers()->topLevelItemCount(), 1);
    QCOMPARE(ShownIds(Transfers()), QStringList{upperId});
    QCOMPARE(TransferOf(0), upper);
    QCOMPARE(data2->ReadBytes(4096).size(), std::size_t{4096});  // the other one runs on
}

void MonitorPaneTest::giveTakeCreditSetsTheEnteredCredit() {
    auto plain = Login("u");
    QTRY_COMPARE(Connections()->topLevelItemCount(), 1);
    auto ratio = Login("r");
    QTRY_COMPARE(Connections()->topLevelItemCount(), 2);
    QCOMPARE(Cells(Connections(), 0).at(1), QString("r"));
    const auto session = SessionOf(0);
    QCOMPARE(session->Credit(), std::int64_t{1200});

    QVERIFY(SelectAndPrepare(Connections(), {1}));
    QVERIFY(!Action("giveTakeCreditAction")->isEnabled());  // no ratio, no credit
    QVERIFY(SelectAndPrepare(Connections(), {0}));
    QVERIFY(Action("giveTakeCreditAction")->isEnabled());

    QString shown;
    QString account;
    ui::CreditDialog* asked = nullptr;
    WhenModalShows<ui::CreditDialog>([&](ui::CreditDialog* dialog) {
        asked = dialog;
        shown = dialog->findChild<QLineEdit*>("creditEdit")->text();
        account = dialog->findChild<QLabel*>("accountNameLabel")->text();
        Answer(dialog, "creditEdit", "5000", "okButton");
    });
    Action("giveTakeCreditAction")->trigger();
    QVERIFY(asked);
    QCOMPARE(shown, QString("1200"));
    QCOMPARE(account, QString("r"));
    QCOMPARE(session->Credit(), std::int64_t{5000});

    WhenModalShows<ui::CreditDialog>(
        [&](ui::CreditDialog* dialog) { Answer(dialog, "creditEdit", "42", "cancelButton"); });
    Action("giveTakeCreditAction")->trigger();
    QCOMPARE(session->Credit(), std::int64_t{5000});

    WhenModalShows<ui::CreditDialog>([&](ui::CreditDialog* dialog) { Answer(dialog, "creditEdit", "-300", "okButton"); });
    Action("giveTakeCreditAction")->trigger();
    QCOMPARE(session->Credit(), std::int64_t{-300});
}

void MonitorPaneTest::changeSpeedLimitChangesTheRunningTransfer() {
    auto [control, data] = StartTransfer("u", "RETR big.bin");
    QTRY_COMPARE(Transfers()->topLevelItemCount(), 1);
    const auto transfer = TransferOf(0);
    QCOMPARE(transfer->CurrentSpeedLimit().bytesPerSecond, 10240u);
    QVERIFY(SelectAndPrepare(Transfers(), {0}));
    QVERIFY(Action("changeSpeedLimitAction")->isEnabled());

    QString shown;
    WhenModalShows<ui::SpeedLimitDialog>([&](ui::SpeedLimitDialog* dialog) {
        shown = dialog->findChild<QLineEdit*>("speedEdit")->text();
        Answer(dialog, "speedEdit", "2.5", "okButton");
    });
    Action("changeSpeedLimitAction")->trigger();
    QCOMPARE(shown, QString("10"));
    QCOMPARE(transfer->CurrentSpeedLimit(), (ftp::SpeedLimit{true, 2560}));

    WhenModalShows<ui::SpeedLimitDialog>([&](ui::SpeedLimitDialog* dialog) {
        shown = dialog->findChild<QLineEdit*>("speedEdit")->text();
        Answer(dialog, "speedEdit", "99", "cancelButton");
    });
    Action("changeSpeedLimitAction")->trigger();
    QCOMPARE(shown, QString("2.5"));
    QCOMPARE(transfer->CurrentSpeedLimit(), (ftp::SpeedLimit{true, 2560}));

    // A transfer without a limit offers no change. The client does not read, so the unpaced
    // download stays running once the socket buffers are full.
    WriteText(root_ + "huge.bin", "");
    std::filesystem::resize_file(root_ + "huge.bin", 256 * 1024 * 1024);
    auto [fastControl, fastData] = StartTransfer("f", "RETR huge.bin");
    QTRY_COMPARE(Transfers()->topLevelItemCount(), 2);
    QCOMPARE(Cells(Transfers(), 0).at(2), QString("huge.bin"));  // the newer transfer is on top
    QVERIFY(SelectAndPrepare(Transfers(), {0}));
    QVERIFY(!Action("changeSpeedLimitAction")->isEnabled());

    // Lifting the limit lets the paced download finish at once.
    pane_->SetSpeedPrompt([](QWidget*, double) { return 0.0; });
    QVERIFY(SelectAndPrepare(Transfers(), {1}));
    Action("changeSpeedLimitAction")->trigger();
    QVERIFY(!transfer->CurrentSpeedLimit().on);
    QCOMPARE(data->ReadBytes(200 * 1024, 5s).size(), std::size_t{200 * 1024});
    QCOMPARE(control->ReadReply(), std::string("226 Transfer complete.\r\n"));
}

void MonitorPaneTest::clearListEmptiesOnlyTheRequests() {
    auto client = Login("u");
    auto refused = std::make_unique<TestClient>(port_);
    refused->ReadReply();
    refused->Send("USER nobody\r\nPASS x\r\n");
    refused->ReadReply();
    QCOMPARE(refused->ReadReply().substr(0, 4), std::string("530 "));
    QTRY_COMPARE(Requests()->topLevelItemCount(), 2);
    QTRY_COMPARE(Connections()->topLevelItemCount(), 1);

    QVERIFY(SelectAndPrepare(Requests(), {1}));
    Action("clearListAction")->trigger();
    QTRY_COMPARE(Requests()->topLevelItemCount(), 0);
    QCOMPARE(Connections()->topLevelItemCount(), 1);

    auto later = Login("u");
    QTRY_COMPARE(Requests()->topLevelItemCount(), 1);
}

void MonitorPaneTest::extendedInfoFollowsItsSession() {
    auto [control, data] = StartTransfer("u", "RETR tiny.txt");
    QCOMPARE(data->ReadBytes(3 * 1024).size(), std::size_t{3 * 1024});
    QCOMPARE(control->ReadReply(), std::string("226 Transfer complete.\r\n"));
    QTRY_COMPARE(Connections()->topLevelItemCount(), 1);

    QVERIFY(SelectAndPrepare(Connections(), {0}));
    Action("viewExtendedInfoAction")->trigger();
    auto* dialog = pane_->findChild<ui::ExtendedInfoDialog*>("extendedInfoDialog");
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QString("Extended Info"));
    auto* list = dialog->findChild<QTreeWidget*>("extendedInfoList");
    QCOMPARE(Headers(list), QStringList({"Description", "Value"}));
    QCOMPARE(Widths(list).mid(0, 1), QList<int>({ui::DialogUnitsToPixels(*list, 120)}));
    QStringList descriptions;
    for (int row = 0; row < list->topLevelItemCount(); ++row) descriptions << list->topLevelItem(row)->text(0);
    QCOMPARE(descriptions, QStringList({"Current Location", "Credit", "Uploaded", "Downloaded", "Idle Time"}));
    QCOMPARE(list->topLevelItem(0)->text(1), QString::fromStdString(root_));
    QCOMPARE(list->topLevelItem(1)->text(1), QString("Credit : %1 bytes").arg(SessionOf(0)->Credit()));
    QCOMPARE(list->topLevelItem(2)->text(1), QString("Uploaded : 0.0 kb - in 0 files"));
    QCOMPARE(list->topLevelItem(3)->text(1), QString("Downloaded : 3.0 kb - in 1 files"));
    QVERIFY(QRegularExpression("^\\d+$").match(list->topLevelItem(4)->text(1)).hasMatch());

    // Refreshed while it lives.
    control->Send("CWD sub\r\n");
    QCOMPARE(control->ReadReply().substr(0, 4), std::string("250 "));
    QTRY_COMPARE(list->topLevelItem(0)->text(1), QString::fromStdString(root_ + "sub/"));

    const QPointer<ui::ExtendedInfoDialog> watched(dialog);
    control->Send("QUIT\r\n");
    QTRY_VERIFY(watched.isNull());
}

void MonitorPaneTest::updateAccountInfoRereadsTheAccount() {
    auto client = Login("r");
    QTRY_COMPARE(Connections()->topLevelItemCount(), 1);
    client->Send("CWD sub\r\n");
    QCOMPARE(client->ReadReply().substr(0, 4), std::string("250 "));
    QTRY_COMPARE(Cells(Connections(), 0).at(4), QString::fromStdString(root_ + "sub/"));
    const auto session = SessionOf(0);

    QVERIFY(store::WriteProfileString(store::UserFile(usersDir_, "r"), "RATIO", "Credit", "777"));
    QVERIFY(SelectAndPrepare(Connections(), {0}));
    Action("updateAccountInfoAction")->trigger();
    // As at login: the stored credit, and the home directory again.
    QTRY_COMPARE(session->Credit(), std::int64_t{777});
    QTRY_COMPARE(Cells(Connections(), 0).at(4), QString::fromStdString(root_));
    client->Send("PWD\r\n");
    QVERIFY(client->ReadReply().find("257 ") == 0);
}

void MonitorPaneTest::serverVariablesShowTheFirstIpHome() {
    ui::ServerVariablesDialog dialog(*server_);
    QCOMPARE(dialog.windowTitle(), QString("Winsock2_API_Socket Debugging Window"));
    auto* list = dialog.findChild<QTreeWidget*>("variablesList");
    QCOMPARE(Headers(list), QStringList({"Variable", "Value", "Description"}));
    QCOMPARE(Cells(list, 0), QStringList({"Maximum Transfers", "5", "Maximum Number of transfers set in Server IP Home settings"}));
    QCOMPARE(Cells(list, 1), QStringList({"Current Transfers", "0", "Current Number of active transfers"}));
    QCOMPARE(Cells(list, 2), QStringList({"Maximum Users", "7", "Maximum Number of users set in Server IP Home settings"}));
    QCOMPARE(Cells(list, 3), QStringList({"Current Users", "0", "Current Number of active users"}));
    QCOMPARE(Cells(list, 4), QStringList({"STORE_overwrite ?", "TRUE", "Value of the STORE_overwrite variable"}));
    QVERIFY(dialog.findChild<QLabel*>("noIpHomeLabel")->isHidden());

    auto client = Login("u");
    dialog.findChild<QPushButton*>("okButton")->click();
    QCOMPARE(Cells(list, 3).at(1), QString("1"));

    // A server that serves no IP home shows placeholders. Servers join every worker of the
    // process when they end, so the running one ends first.
    client.reset();
    server_->Shutdown();
    TempFolder empty;
    server::Server idle(empty.path());
    ui::ServerVariablesDialog none(idle);
    auto* noneList = none.findChild<QTreeWidget*>("variablesList");
    QCOMPARE(noneList->topLevelItemCount(), 5);
    for (int row = 0; row < 5; ++row) QCOMPARE(noneList->topLevelItem(row)->text(1), QString("-"));
    QVERIFY(!none.findChild<QLabel*>("noIpHomeLabel")->isHidden());
}

QTEST_MAIN(MonitorPaneTest)
#include "MonitorPaneTest.moc"
