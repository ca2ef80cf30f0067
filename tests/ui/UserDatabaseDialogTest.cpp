#include "store/AccountCommands.h"
#include "store/AccountDatabase.h"
#include "server/Server.h"
#include "ui/EditorPrompts.h"
#include "ui/UserDatabaseDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <memory>
#include <sstream>
#include <unistd.h>

#include "TempFolder.h"
#include "TestClient.h"
#include "TestHome.h"

using namespace tolvane;
namespace fs = std::filesystem;
using Kind = ui::UserDatabaseDialog::ItemKind;

namespace {

// Answers the dialog's questions and records its messages instead of showing modal windows.
class RecordingPrompts : public ui::EditorPrompts {
public:
    QStringList messages;
    QStringList questions;
    QStringList fileFilters;
    QString folder;
    bool answer = true;

    void ShowMessage(const QString& text) override { messages << text; }
    bool AskYesNo(const QString& text) override {
        questions << text;
        return answer;
    }
    QString ChooseFolder(const QString&) override { return folder; }
    QString ChooseFile(const QString&, const QString& filter) override {
        fileFilters << filter;
        return "/srv/motd.txt";
    }
};

QStringList ChildTexts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int i = 0; i < item->childCount(); ++i) texts << item->child(i)->text(0);
    return texts;
}

QStringList MenuTexts(QMenu& menu) {
    QStringList texts;
    for (const QAction* action : menu.actions()) texts << action->text();
    return texts;
}

// Effective ids drop to "nobody" when running as root, so that permissions apply.
class Unprivileged {
public:
    Unprivileged() {
        if (::geteuid() == 0) dropped_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    }
    ~Unprivileged() {
        if (dropped_) {
            [[maybe_unused]] const int user = ::seteuid(0);
            [[maybe_unused]] const int group = ::setegid(0);
        }
    }

private:
    bool dropped_ = false;
};

}  // namespace

class UserDatabaseDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        home_ = std::make_unique<TempFolder>();
        port_ = testing::FreePort();
        title_ = "127.0.0.1-" + std::to_string(port_);
        root_ = testing::AddIpHomeWithUser(home_->path(), port_, "u");
        database_ = store::DatabaseDir(home_->path());
        server_ = std::make_unique<server::Server>(home_->path());
        QVERIFY(!server_->InitDatabase());
        // The default home would listen on port 21 of every address.
        store::IpHome fullMachine = store::ReadIpHome(store::IpHomeFile(database_, store::kDefaultIpHome));
        fullMachine.disabled = 1;
        store::WriteIpHome(store::IpHomeFile(database_, store::kDefaultIpHome), fullMachine);
        const fs::path groups = store::GroupsDir(database_, title_);
        store::CreateGroup(groups, "staff");
        store::CreateUser(store::GroupMembersDir(groups, "staff"), "m");
        OpenDialog();
    }
    void cleanup() {
        dialog_.reset();
        server_->Shutdown();
        server_.reset();
        home_.reset();
    }

    void treeImagesPagesAndMenus() {
        QTreeWidget& tree = dialog_->Tree();
        QCOMPARE(tree.topLevelItemCount(), 2);
        QCOMPARE(tree.topLevelItem(1)->text(0), QString(store::kDefaultIpHome.data()));
        QTreeWidgetItem* home = Item({Title()});
        QCOMPARE(ChildTexts(home), QStringList({"Users", "Groups"}));
        QCOMPARE(ChildTexts(home->child(0)), QStringList({"u"}));
        QCOMPARE(ChildTexts(home->child(1)), QStringList({"staff"}));
        QCOMPARE(ChildTexts(Item({Title(), "Groups", "staff"})), QStringList({"m"}));
        for (QTreeWidgetItem* item : {home, home->child(0), home->child(1)->child(0), Item({Title(), "Users", "u"})})
            QVERIFY(!item->icon(0).isNull());

        auto* accountTabs = dialog_->findChild<QTabWidget*>("accountTabs");
        QStringList titles;
        for (int i = 0; i < accountTabs->count(); ++i) titles << accountTabs->tabText(i);
        QCOMPARE(titles, QStringList({"Account", "More", "Ratio", "IP Access", "Logging", "Speed Limit"}));
        auto* serverTabs = dialog_->findChild<QTabWidget*>("serverTabs");
        QCOMPARE(serverTabs->count(), 1);
        QCOMPARE(serverTabs->tabText(0), QString("Server Settings"));
        Select({Title()});
        QVERIFY(serverTabs->isVisibleTo(dialog_.get()) && !accountTabs->isVisibleTo(dialog_.get()));
        Select({Title(), "Users"});
        QVERIFY(!serverTabs->isVisibleTo(dialog_.get()) && !accountTabs->isVisibleTo(dialog_.get()));

        const auto menu = [&](const QStringList& path) { return MenuTexts(*dialog_->BuildContextMenu(Item(path))); };
        QCOMPARE(menu({Title()}), QStringList({"Add new IP Home", "Remove this IP Home"}));
        QCOMPARE(menu({Title(), "Users"}), QStringList({"Add User"}));
        QCOMPARE(menu({Title(), "Groups"}), QStringList({"Add Group"}));
        QCOMPARE(menu({Title(), "Users", "u"}), QStringList({"Restore Account Info", "Delete User"}));
        QCOMPARE(menu({Title(), "Groups", "staff"}),
                 QStringList({"Add User to Group", "Restore Account Info", "Delete Group"}));
        QCOMPARE(menu({Title(), "Groups", "staff", "m"}), QStringList({"Restore Account Info", "Delete User"}));

        // A group is read for everything but the password and the checks made at USER.
        Select({Title(), "Groups", "staff"});
        for (const char* name : {"passwordEdit", "disableAccountBox", "maxUsersEdit", "allowBox", "multipleLoginsEdit"})
            QVERIFY2(!dialog_->findChild<QWidget*>(name)->isEnabled(), name);
        Select({Title(), "Groups", "staff", "m"});
        QVERIFY(Edit("passwordEdit")->isEnabled());
    }

    // Loading follows the editor's reading rules; a save keeps the file's rule order.
    void pagesShowTheStoredValuesAndSaveThemBack() {
        const fs::path file = store::UserFile(store::UsersDir(database_, title_), "u");
        WriteText(file,
                  "[Userinformation]\nPassword=pw\nRootDir=" + root_ + "\nAccessingRules1=" + root_ +
                      ",RLI\nAccessingRules2=" + root_ + "pub/,RWDLI\nAccessingRules3=ERROR\n"
                      "[MISC-OPTIONS]\nDisableAccount=yes\nMaxUsers=-1\nTimeout=630\nAllow=FALSE\n"
                      "[RATIO]\nRatioEnabled=FALSE\n"
                      "[IPAccess]\nIPAccessRule0=Allow:10.*.*.*\nIPAccessRule1=Deny:10.0.0.1\nIPAccessRule2=ERROR\n"
                      "[Logging]\nEnabled=true\nLogFTPCommands=TRUE\n"
                      "[SPEED-LIMIT]\nEnabled=Dynamic\nDynamicSpeedLimitRule0=Monday-8:00-17:00-1,2,3\n"
                      "DynamicSpeedLimitRule1=Everyday-0:00-23:59-4,5,6\nDynamicSpeedLimitRule2=ERROR\n");
        Select({Title(), "Users", "u"});
        auto* directories = dialog_->findChild<QListWidget*>("directoryList");
        QCOMPARE(directories->count(), 2);
        QCOMPARE(directories->item(0)->text(), QString::fromStdString(root_ + "pub/"));
        QCOMPARE(Box("disableAccountBox")->isChecked(), true);
        QCOMPARE(Box("allowBox")->isChecked(), false);
        QCOMPARE(Edit("maxUsersEdit")->text(), QString());
        QCOMPARE(Edit("timeoutEdit")->text(), QString("11"));
        QCOMPARE(Box("enableLoggingBox")->isChecked(), false);
        QCOMPARE(Box("logCommandsBox")->isChecked(), true);
        auto* ipRules = dialog_->findChild<QTreeWidget*>("ipRuleList");
        QCOMPARE(ipRules->topLevelItem(0)->text(0) + ipRules->topLevelItem(0)->text(1), QString("Deny10.0.0.1"));
        auto* speedRules = dialog_->findChild<QTreeWidget*>("speedRuleList");
        QCOMPARE(speedRules->topLevelItem(0)->text(0), QString("Monday"));
        QVERIFY(Box("dynamicSpeedBox")->isChecked());

        // The choosers: a folder ends in '/', the login message is a text file.
        fs::create_directories(root_ + "pub");
        prompts_->folder = QString::fromStdString(root_) + "pub";
        Click("rootDirectoryBrowse");
        QCOMPARE(Edit("rootDirectoryEdit")->text(), QString::fromStdString(root_) + "pub/");
        Click("loginMessageBrowse");
        QCOMPARE(prompts_->fileFilters, QStringList({"Ascii - Text File (*.txt)"}));
        Edit("ipEdit")->setText("");
        Click("ipAddButton");
        Click("ipRemoveButton");
        Click("speedEditButton");
        Click("speedAddButton");
        QCOMPARE(prompts_->messages, QStringList({"You have to specify an IP Address",
                                                 "Select the rule you want to delete first",
                                                 "Select the rule you want to edit", "Select a Day."}));
        Select({Title(), "Users"});
        const auto account = store::ReadAccountValues(file);
        QCOMPARE(account.rootDir, root_ + "pub/");
        QCOMPARE(account.accessingRules.front().path, root_);
        QCOMPARE(account.ipAccessRules, std::vector<std::string>({"Allow:10.*.*.*", "Deny:10.0.0.1"}));
        QCOMPARE(account.dynamicSpeedLimitRules.front(), std::string("Monday-8:00-17:00-1,2,3"));
        QCOMPARE(store::ReadProfileString(file, "MISC-OPTIONS", "Timeout", ""), std::string("660"));
        QCOMPARE(store::ReadProfileString(file, "MISC-OPTIONS", "LoginMessage", ""), std::string("/srv/motd.txt"));
    }

    // An FTPS policy this editor does not know survives loads and saves in one item of its own.
    void anUnknownFtpsPolicyIsKeptInOneItem() {
        const fs::path file = store::UserFile(UsersDir(), "u");
        store::WriteProfileString(file, "MISC-OPTIONS", "TlsPolicy", "strict");
        auto* policies = dialog_->findChild<QComboBox*>("tlsPolicyBox");
        const int known = policies->count();
        for (int load = 0; load < 3; ++load) {
            Select({Title(), "Users"});
            Select({Title(), "Users", "u"});
        }
        QCOMPARE(policies->count(), known + 1);
        QCOMPARE(policies->currentData().toString(), QString("strict"));
        store::WriteProfileString(store::UserFile(store::GroupMembersDir(GroupsDir(), "staff"), "m"), "MISC-OPTIONS",
                                  "TlsPolicy", "tight");
        Select({Title(), "Groups", "staff", "m"});
        QCOMPARE(policies->count(), known + 1);
        QCOMPARE(policies->currentData().toString(), QString("tight"));
        Select({Title(), "Groups", "staff"});
        QCOMPARE(policies->count(), known);
        Select({Title(), "Users", "u"});
        Select({Title(), "Users"});
        QCOMPARE(store::ReadProfileString(file, "MISC-OPTIONS", "TlsPolicy", ""), std::string("strict"));
    }

    // Two adds give "New User" and "New User 1"; the renamed one logs in, and its file is the
    // one the account command writes for the same account.
    void addedUserRenamedInTheDialogLogsIn() {
        Command("Add User", {Title(), "Users"});
        Command("Add User", {Title(), "Users"});
        QCOMPARE(ChildTexts(Item({Title(), "Users"})), QStringList({"New User", "New User 1", "u"}));
        QVERIFY(fs::is_regular_file(store::UserFile(UsersDir(), "New User 1")));

        Select({Title(), "Users", "New User"});
        Edit("usernameEdit")->setText("carol");
        Edit("passwordEdit")->setText("secret");
        Edit("rootDirectoryEdit")->setText(QString::fromStdString(root_).chopped(1));
        prompts_->folder = QString::fromStdString(root_).chopped(1);
        Click("addFolderButton");
        for (const char* letter : {"ruleRead", "ruleList", "ruleInherit"}) Box(letter)->click();
        Select({Title(), "Users"});
        QCOMPARE(ChildTexts(Item({Title(), "Users"})), QStringList({"New User 1", "carol", "u"}));
        QVERIFY(!fs::exists(store::UserFile(UsersDir(), "New User")));

        std::istringstream in("secret\n");
        std::ostringstream out;
        std::ostringstream err;
        QCOMPARE(store::RunAccountCommand(home_->path(),
                                          {"user", "add", "dave", "--iphome", title_, "--password-stdin", "--root",
                                           root_, "--rule", root_ + ":RLI"},
                                          {in, out, err}),
                 0);
        QCOMPARE(ReadText(store::UserFile(UsersDir(), "carol")), ReadText(store::UserFile(UsersDir(), "dave")));

        StartServer();
        testing::TestClient client(port_);
        client.ReadReply();
        client.Send("USER carol\r\nPASS secret\r\n");
        QVERIFY(client.ReadReply().starts_with("331 "));
        QCOMPARE(client.ReadReply(), std::string("230 User \"carol\" logged in.\r\n"));
    }

    void refusedNamesAndRootChangeNoFile() {
        const auto before = Snapshot();
        Select({Title(), "Users", "u"});
        const QString tooLong(300, 'x');
        for (const QString& name : {QString("a/b"), QString(".."), QString("a") + QChar(0) + "b", tooLong, QString("m")}) {
            Edit("usernameEdit")->setText(name);
            Select({Title(), "Users"});
            Select({Title(), "Users", "u"});
            QCOMPARE(Edit("usernameEdit")->text(), QString("u"));
        }
        QCOMPARE(prompts_->messages.size(), 5);
        QVERIFY(prompts_->messages[0].contains("cannot be a user name"));
        QCOMPARE(prompts_->messages[4], QString("User \"m\" already exists. Username not changed."));
        QCOMPARE(ChildTexts(Item({Title(), "Users"})), QStringList({"u"}));

        Edit("rootDirectoryEdit")->setText(QString::fromStdString(root_) + "missing");
        Select({Title(), "Users"});
        QCOMPARE(prompts_->messages.last(), QString("The Root-Directory \"%1missing/\" does not exist.").arg(root_.c_str()));
        QCOMPARE(dialog_->Tree().currentItem()->text(0), QString("u"));
        Edit("rootDirectoryEdit")->setText(QString::fromStdString(root_));
        Select({Title(), "Users"});
        const auto after = Snapshot();
        QCOMPARE(after.keys(), before.keys());
    }

    void readOnlyDatabaseFolderIsReported() {
        fs::permissions(home_->path(), fs::perms::owner_all | fs::perms::others_exec);
        fs::permissions(database_, fs::perms::owner_all | fs::perms::others_exec);
        for (const fs::path& folder : {store::IpHomeDir(database_, title_), UsersDir()}) {
            fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
        }
        Select({Title(), "Users", "u"});
        const auto before = Snapshot();
        {
            const Unprivileged nobody;
            Command("Add User", {Title(), "Users"});
            Edit("usernameEdit")->setText("renamed");
            Select({Title(), "Users"});
        }
        for (const fs::path& folder : {store::IpHomeDir(database_, title_), UsersDir()})
            fs::permissions(folder, fs::perms::owner_all);
        QCOMPARE(prompts_->messages, QStringList({"Failed to create a new user in " + QString::fromStdString(UsersDir().string()) + ".",
                                                 "Failed to delete Account Info for user u.",
                                                 "Failed to save Account Info for user u."}));
        QCOMPARE(ChildTexts(Item({Title(), "Users"})), QStringList({"u"}));
        QCOMPARE(Snapshot(), before);
    }

    // The server runs throughout; re-creating its sockets (what SIGHUP does) brings the new home up.
    void newIpHomeTakesItsAddressAsNameAndServes() {
        StartServer();
        Command("Remove this IP Home", {QString(store::kDefaultIpHome.data())});
        QCOMPARE(prompts_->messages, QStringList({"This IP Home cant be deleted."}));
        QVERIFY(prompts_->questions.isEmpty());

        Command("Add new IP Home", {Title()});
        QCOMPARE(dialog_->Tree().currentItem()->text(0), QString("[New IPHome]"));
        QVERIFY(fs::is_directory(store::GroupsDir(database_, "[New IPHome]")));
        const std::uint16_t port = testing::FreePort();
        Edit("serverIpEdit")->setText("127.0.0.1");
        Select({"[New IPHome]", "Users"});
        QCOMPARE(prompts_->messages.last(), QString("You have to set an IP and Port for this IP Home"));
        QCOMPARE(dialog_->Tree().currentItem()->text(0), QString("[New IPHome]"));

        Edit("serverPortEdit")->setText(QString::number(port));
        const QString title = QString("127.0.0.1-%1").arg(port);
        Select({"[New IPHome]", "Users"});
        QCOMPARE(dialog_->Tree().topLevelItem(2)->text(0), title);
        QVERIFY(!fs::exists(store::IpHomeFile(database_, "[New IPHome]")));
        QVERIFY(fs::is_directory(store::UsersDir(database_, title.toStdString())));
        QCOMPARE(store::ReadIpHome(store::IpHomeFile(database_, title.toStdString())).serverPort,
                 std::to_string(port));

        Command("Add User", {title, "Users"});
        Select({title, "Users", "New User"});
        Edit("passwordEdit")->setText("pw");
        Edit("rootDirectoryEdit")->setText(QString::fromStdString(root_));
        dialog_->accept();
        QVERIFY(dialog_->result() == QDialog::Accepted);

        server_->CreateServerSockets();
        testing::TestClient client(port);
        QVERIFY(client.ReadReply().ends_with("220 Server ready...\r\n"));
        client.Send("USER New User\r\nPASS pw\r\n");
        client.ReadReply();
        QVERIFY(client.ReadReply().starts_with("230 "));
    }

    // The network fields keep what the file holds unless edited, and refuse what no server could use.
    void networkSettingsOfAnIpHomeLoadCheckAndSave() {
        const fs::path file = store::IpHomeFile(database_, title_);
        store::IpHome home = store::ReadIpHome(file);
        home.pasvPortMin = 40000;
        home.pasvPortMax = 40009;
        home.trustedProxies = "10.0.0.9";
        store::WriteIpHome(file, home);
        OpenDialog();
        Select({Title()});
        QCOMPARE(Edit("passivePortsEdit")->text(), QString("40000-40009"));
        QCOMPARE(Edit("trustedProxiesEdit")->text(), QString("10.0.0.9"));
        QVERIFY(Box("ipv6OnlyBox")->isChecked());
        Edit("passivePortsEdit")->setText("50000-40000");
        Select({Title(), "Users"});
        QCOMPARE(prompts_->messages.last(), QString("Passive Ports are MIN-MAX, two ports from 1 to 65535."));
        Edit("passivePortsEdit")->setText("50000-50002");
        Edit("trustedProxiesEdit")->setText("10.0.0.9, proxy");
        Select({Title(), "Users"});
        QCOMPARE(prompts_->messages.last(), QString("Trusted Proxies are IP addresses separated by commas."));
        Edit("trustedProxiesEdit")->setText("10.0.0.9, ::1");
        Edit("passiveAddressEdit")->setText("ftp.example.org");
        Select({Title(), "Users"});
        const store::IpHome saved = store::ReadIpHome(file);
        QCOMPARE(saved.pasvPortMin, 50000);
        QCOMPARE(saved.pasvPortMax, 50002);
        QCOMPARE(saved.pasvAddress, std::string("ftp.example.org"));
        QCOMPARE(saved.trustedProxies, std::string("10.0.0.9, ::1"));
        QCOMPARE(saved.ipv6Only, 1);
    }

    void closeChecksTheRatioOnTheRatioPage() {
        Select({Title(), "Users", "u"});
        Box("enableRatioBox")->setChecked(true);
        dialog_->accept();
        QVERIFY(dialog_->isVisible());
        QCOMPARE(dialog_->findChild<QTabWidget*>("accountTabs")->currentIndex(), 2);
        dialog_->findChild<QComboBox*>("countBox")->setCurrentIndex(0);
        dialog_->accept();
        Edit("uploadEdit")->setText("1");
        Edit("downloadEdit")->setText("x");
        dialog_->accept();
        QVERIFY(dialog_->isVisible());
        QCOMPARE(prompts_->messages,
                 QStringList({"When Ratio enabled , you have to choose a Counting Type.",
                              "When Ratio is enabled, you have to enter a value for \"Upload\" and \"Download\"",
                              "Enter valid values for \"Upload\" and \"Download\""}));
        Edit("downloadEdit")->setText("3");
        dialog_->reject();
        QVERIFY(!dialog_->isVisible());
        const auto saved = store::ReadAccountValues(store::UserFile(UsersDir(), "u"));
        QVERIFY(saved.ratioEnabled);
        QCOMPARE(saved.ratioType, std::string("Bytes per Session"));
    }

    void renamedGroupKeepsItsMembersAndDeletingItRemovesThem() {
        Select({Title(), "Groups", "staff"});
        Edit("usernameEdit")->setText("crew");
        Select({Title(), "Groups", "staff", "m"});
        QVERIFY(fs::is_regular_file(store::UserFile(store::GroupMembersDir(GroupsDir(), "crew"), "m")));
        QVERIFY(!fs::exists(store::GroupFile(GroupsDir(), "staff")));
        prompts_->answer = false;
        Command("Delete Group", {Title(), "Groups", "crew"});
        QVERIFY(fs::exists(store::GroupFile(GroupsDir(), "crew")));
        prompts_->answer = true;
        Command("Delete Group", {Title(), "Groups", "crew"});
        QCOMPARE(prompts_->questions.last(), QString("Are you sure you want to delete the Group \"crew\" with all Users ?"));
        QVERIFY(!fs::exists(store::GroupFile(GroupsDir(), "crew")));
        QVERIFY(!fs::exists(store::GroupMembersDir(GroupsDir(), "crew")));
        QCOMPARE(Item({Title(), "Groups"})->childCount(), 0);
        Select({Title(), "Users", "u"});
        Command("Delete User", {Title(), "Users", "u"});
        QVERIFY(!fs::exists(store::UserFile(UsersDir(), "u")));
        QVERIFY(prompts_->messages.isEmpty());
    }

    void editedRulesApplyAtTheNextCwd() {
        fs::create_directories(root_ + "sub");
        StartServer();
        testing::TestClient client(port_);
        client.ReadReply();
        client.Send("USER u\r\nPASS pw\r\n");
        client.ReadReply();
        QVERIFY(client.ReadReply().starts_with("230 "));
        client.Send("CWD sub\r\n");
        QVERIFY(client.ReadReply().starts_with("250 "));
        client.Send("CWD ..\r\n");
        QVERIFY(client.ReadReply().starts_with("250 "));

        Select({Title(), "Users", "u"});
        prompts_->folder = QString::fromStdString(root_) + "sub";
        Click("addFolderButton");
        Box("ruleDeny")->click();
        Select({Title(), "Users"});
        client.Send("CWD sub\r\n");
        QVERIFY(client.ReadReply().starts_with("550 "));
    }

private:
    void OpenDialog() {
        prompts_ = std::make_unique<RecordingPrompts>();
        dialog_ = std::make_unique<ui::UserDatabaseDialog>(database_, *prompts_);
        dialog_->show();
    }
    void StartServer() {
        server_->CreateServerSockets();
        server_->GoOnline();
    }
    QString Title() const { return QString::fromStdString(title_); }
    fs::path UsersDir() const { return store::UsersDir(database_, title_); }
    fs::path GroupsDir() const { return store::GroupsDir(database_, title_); }

    QTreeWidgetItem* Item(const QStringList& path) const {
        QTreeWidgetItem* found = nullptr;
        for (const QString& text : path) {
            QTreeWidgetItem* next = nullptr;
            const int count = found ? found->childCount() : dialog_->Tree().topLevelItemCount();
            for (int i = 0; i < count && !next; ++i) {
                QTreeWidgetItem* item = found ? found->child(i) : dialog_->Tree().topLevelItem(i);
                if (item->text(0) == text) next = item;
            }
            if (!next) qFatal("no tree item %s", qPrintable(path.join(" > ")));
            found = next;
        }
        return found;
    }
    void Select(const QStringList& path) { dialog_->Tree().setCurrentItem(Item(path)); }
    void Command(const QString& text, const QStringList& path) {
        const auto menu = dialog_->BuildContextMenu(Item(path));
        for (QAction* action : menu->actions())
            if (action->text() == text) return action->trigger();
        qFatal("no command %s", qPrintable(text));
    }
    QLineEdit* Edit(const char* name) const { return dialog_->findChild<QLineEdit*>(name); }
    QCheckBox* Box(const char* name) const { return dialog_->findChild<QCheckBox*>(name); }
    void Click(const char* name) const { QTest::mouseClick(dialog_->findChild<QWidget*>(name), Qt::LeftButton); }
    // Every path under the database with its content.
    QMap<QString, QString> Snapshot() const {
        QMap<QString, QString> files;
        for (const auto& entry : fs::recursive_directory_iterator(database_))
            files[QString::fromStdString(entry.path().string())] =
                entry.is_regular_file() ? QString::fromStdString(ReadText(entry.path())) : QString("<dir>");
        return files;
    }

    std::unique_ptr<RecordingPrompts> prompts_;
    std::unique_ptr<TempFolder> home_;
    std::uint16_t port_ = 0;
    std::string title_;
    std::string root_;
    fs::path database_;
    std::unique_ptr<server::Server> server_;
    std::unique_ptr<ui::UserDatabaseDialog> dialog_;
};

QTEST_MAIN(UserDatabaseDialogTest)
#include "UserDatabaseDialogTest.moc"
