// Saves PNG pictures of the window against a live server with a few clients: the main window
// with each monitor tab, the settings dialog, the Extended Info window and the server
// variables window, the account editor with a user, a group and an IP home selected, and a
// second window attached to the server as to a tolvaned: transfers with progress bars, the
// throughput chart and a filtered log.
// Usage: UiScreenshots OUTPUT_DIR
#include "TempFolder.h"
#include "TestClient.h"
#include "TestHome.h"
#include "store/AccountDatabase.h"
#include "control/Attachment.h"
#include "control/ControlSocket.h"
#include "server/Server.h"
#include "ui/ExtendedInfoDialog.h"
#include "ui/MainWindow.h"
#include "ui/MonitorPane.h"
#include "ui/ThroughputChart.h"
#include "ui/ServerVariablesDialog.h"
#include "ui/SettingsDialog.h"
#include "ui/UserDatabaseDialog.h"
#include "ui/EditorPrompts.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

namespace {

using namespace tolvane;
using testing::TestClient;

void Settle(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Save(QWidget& widget, const QString& folder, const QString& name) {
    const QString path = folder + "/" + name + ".png";
    widget.grab().save(path);
    std::printf("%s\n", path.toLocal8Bit().constData());
}

// An IP home on a free port with two users; "slow" downloads at 5 kb/s so a transfer shows.
std::uint16_t PrepareHome(const std::filesystem::path& home) {
    const std::uint16_t port = testing::FreePort();
    const auto database = store::DatabaseDir(home);
    const std::string title = "127.0.0.1-" + std::to_string(port);
    const std::string root = (home / "files").string() + "/";
    std::filesystem::create_directories(root);
    std::filesystem::create_directories(database);
    std::ofstream(root + "video.bin") << std::string(512 * 1024, 'v');
    store::IpHome ipHome;
    ipHome.serverName = "Screenshots";
    ipHome.serverIp = "127.0.0.1";
    ipHome.serverPort = std::to_string(port);
    store::CreateIpHome(database, title);
    store::WriteIpHome(store::IpHomeFile(database, title), ipHome);
    for (const char* name : {"alice", "slow"}) {
        store::AccountValues user;
        user.password = "pw";
        user.rootDir = root;
        user.accessingRules = {{root, "RWDLI"}};
        user.showRelativePath = true;
        user.ratioEnabled = std::string(name) == "alice";
        user.ratioType = "Bytes per Session";
        user.upload = "1";
        user.download = "3";
        user.credit = "5000";
        if (std::string(name) == "slow") {
            user.speedLimitMode = store::SpeedLimitMode::Static;
            user.sendingSpeed = "5";
        }
        store::CreateUser(store::UsersDir(database, title), name);
        store::WriteAccount(store::UserFile(store::UsersDir(database, title), name), user);
    }
    store::AccountValues staff;
    staff.rootDir = root;
    staff.accessingRules = {{root, "RLI"}, {root + "incoming/", "RWLMI"}};
    staff.ipAccessRules = {"Allow:192.168.*.*", "Deny:*.*.*.*"};
    staff.speedLimitMode = store::SpeedLimitMode::Dynamic;
    staff.dynamicSpeedLimitRules = {"Everyday-8:00-18:00-50,100,10", "Sunday-0:00-23:59-0,0,0"};
    const auto groups = store::GroupsDir(database, title);
    store::CreateGroup(groups, "staff");
    store::WriteAccount(store::GroupFile(groups, "staff"), staff);
    store::CreateUser(store::GroupMembersDir(groups, "staff"), "bob");
    return port;
}

std::unique_ptr<TestClient> LogIn(std::uint16_t port, const std::string& user) {
    auto client = std::make_unique<TestClient>(port);
    client->ReadReply();
    client->Send("USER " + user + "\r\nPASS pw\r\n");
    client->ReadReply();
    client->ReadReply();
    return client;
}

QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == text) return parent->child(i);
    return parent;
}

// Every account page of the user, the group's rights and speed limits, and the IP home.
void SaveAccountEditor(const std::filesystem::path& home, QWidget& window, const QString& folder) {
    ui::EditorPrompts prompts;
    ui::UserDatabaseDialog editor(store::DatabaseDir(home), prompts, &window);
    editor.show();
    QTreeWidget& tree = editor.Tree();
    QTreeWidgetItem* ipHome = tree.topLevelItem(0);
    tree.expandAll();
    auto* tabs = editor.findChild<QTabWidget*>("accountTabs");
    tree.setCurrentItem(Child(Child(ipHome, "Users"), "alice"));
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        Settle(200);
        Save(editor, folder, QString("user-database-user-tab%1").arg(tab));
    }
    tree.setCurrentItem(Child(Child(ipHome, "Groups"), "staff"));
    for (int tab : {0, 1, 3, 5}) {
        tabs->setCurrentIndex(tab);
        Settle(200);
        Save(editor, folder, QString("user-database-group-tab%1").arg(tab));
    }
    tree.setCurrentItem(ipHome);
    Settle(200);
    Save(editor, folder, "user-database-iphome");
    tree.setCurrentItem(Child(ipHome, "Users"));
    Settle(200);
    Save(editor, folder, "user-database-folder");
    editor.accept();
}

// Through the home's control socket, as the window attaches to a tolvaned; the chart is given
// a few samples more than the seconds waited.
void SaveAttachedWindow(server::Server& server, const QString& folder) {
    auto socket = control::ControlSocket::Open(server.Home(), server, [] {});
    if (socket.index() != 0) return;
    control::AttachTarget target;
    target.home = server.Home();
    auto attached = control::Attachment::Open(target, {});
    if (attached.index() != 0) return;
    ui::MainWindow window(std::move(std::get<0>(attached)));
    window.resize(1280, 700);
    window.show();
    for (int i = 0; i < 12; ++i) {
        window.Chart().SampleNow();
        Settle(250);
    }
    window.Monitor().setCurrentIndex(1);
    Settle(300);
    Save(window, folder, "attached-window-transfers");
    window.findChild<QLineEdit*>("logFilter")->setText("slow");
    Settle(500);
    Save(window, folder, "attached-window-filtered-log");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fputs("usage: UiScreenshots OUTPUT_DIR\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    TempFolder home;
    const std::uint16_t port = PrepareHome(home.path());
    server::Server server(home.path());
    server.InitDatabase();
    ui::MainWindow window(server, true);
    server.AnnounceStart(1024);
    window.resize(1280, 640);
    window.show();
    Settle(1500);  // the deferred start brings the sockets up and goes online

    std::vector<std::unique_ptr<TestClient>> clients;
    clients.push_back(LogIn(port, "alice"));
    clients.push_back(LogIn(port, "alice"));
    auto slow = LogIn(port, "slow");
    slow->Send("PASV\r\n");
    const std::string pasv = slow->ReadReply();
    int h1 = 0, h2 = 0, h3 = 0, h4 = 0, p1 = 0, p2 = 0;
    std::sscanf(pasv.c_str() + pasv.find('(') + 1, "%d,%d,%d,%d,%d,%d", &h1, &h2, &h3, &h4, &p1, &p2);
    TestClient data(static_cast<std::uint16_t>(p1 * 256 + p2));
    slow->Send("RETR video.bin\r\n");
    clients.push_back(std::make_unique<TestClient>(port));  // connected, not logged in
    Settle(2500);

    for (int tab = 0; tab < window.Monitor().count(); ++tab) {
        window.Monitor().setCurrentIndex(tab);
        Settle(300);
        Save(window, folder, QString("main-window-tab%1").arg(tab));
    }
    ui::SettingsDialog settings(server, &window);
    settings.show();
    Settle(300);
    Save(settings, folder, "settings-dialog");
    settings.close();

    const auto rows = server.Shared().Registry().Connections().Rows();
    if (!rows.empty()) {
        auto* info = new ui::ExtendedInfoDialog(monitor::SessionOf(rows.front().owner), &window);
        info->show();
        Settle(1200);
        Save(*info, folder, "extended-info");
        info->close();
    }
    SaveAccountEditor(home.path(), window, folder);
    ui::ServerVariablesDialog variables(server, &window);
    variables.show();
    Settle(300);
    Save(variables, folder, "server-variables");
    variables.close();
    SaveAttachedWindow(server, folder);
    server.Shutdown();
    return 0;
}
