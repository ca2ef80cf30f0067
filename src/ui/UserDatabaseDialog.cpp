#include "ui/UserDatabaseDialog.h"

#include "store/AccountDatabase.h"
#include "ui/AccountIpAccessPage.h"
#include "ui/AccountLoggingPage.h"
#include "ui/AccountMorePage.h"
#include "ui/AccountRatioPage.h"
#include "ui/AccountRightsPage.h"
#include "ui/AccountSpeedLimitPage.h"
#include "ui/EditorPrompts.h"
#include "ui/ServerSettingsPage.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <optional>
#include <system_error>

namespace tolvane::ui {
namespace fs = std::filesystem;
namespace {

constexpr int kKindRole = Qt::UserRole;
constexpr int kTreeWidth = 230;
constexpr int kMaxNewNameTries = 10000;

const QString kDefaultIpHome = FromStd(std::string(store::kDefaultIpHome));

enum StackPage { kFolderImagePage, kAccountPage, kServerPage };

bool Exists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path.has_filename() ? path : path.parent_path(), error));
}

bool IsDirectory(const std::string& path) {
    std::error_code error;
    return path.starts_with('/') && fs::is_directory(path, error);
}

// An empty limit field means no limit.
std::optional<int> LimitValue(const QString& text) {
    if (text.isEmpty()) return -1;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0) return std::nullopt;
    return value;
}

QString BadNameMessage(const QString& kind, const QString& name, std::string_view extension) {
    return QString("\"%1\" cannot be a %2 name: it must not be empty, \".\" or \"..\", contain \"/\" or a NUL "
                   "character, or be longer than %3 bytes.")
        .arg(name, kind)
        .arg(store::kMaxFileNameBytes - extension.size());
}

}  // namespace

UserDatabaseDialog::UserDatabaseDialog(fs::path databaseDir, EditorPrompts& prompts, QWidget* parent)
    : QDialog(parent), databaseDir_(std::move(databaseDir)), prompts_(prompts) {
    prompts_.SetParent(this);
    setWindowTitle("User Database");
    BuildLayout();
    LoadTree();
    connect(tree_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { SelectionChanged(current); });
    resize(860, 600);
}

UserDatabaseDialog::~UserDatabaseDialog() = default;

// ---- building ----------------------------------------------------------------

void UserDatabaseDialog::BuildLayout() {
    tree_ = new QTreeWidget(this);
    tree_->setObjectName("databaseTree");
    tree_->setHeaderHidden(true);
    tree_->setFixedWidth(kTreeWidth);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        QTreeWidgetItem* item = tree_->itemAt(position);
        const std::unique_ptr<QMenu> menu = BuildContextMenu(item ? item : tree_->currentItem());
        if (menu) menu->exec(tree_->viewport()->mapToGlobal(position) + QPoint(0, 10));
    });

    folderImage_ = new QLabel(this);
    folderImage_->setAlignment(Qt::AlignCenter);
    folderImage_->setPixmap(style()->standardIcon(QStyle::SP_DirIcon).pixmap(96, 96));
    stack_ = new QStackedWidget(this);
    stack_->addWidget(folderImage_);
    stack_->addWidget(BuildAccountTabs());
    stack_->addWidget(BuildServerTabs());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName("closeButton");
    connect(buttons, &QDialogButtonBox::rejected, this, &UserDatabaseDialog::accept);

    auto* body = new QHBoxLayout;
    body->addWidget(tree_);
    body->addWidget(stack_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(buttons);
}

QWidget* UserDatabaseDialog::BuildAccountTabs() {
    accountTabs_ = new QTabWidget(this);
    accountTabs_->setObjectName("accountTabs");
    rightsPage_ = new AccountRightsPage(prompts_, accountTabs_);
    morePage_ = new AccountMorePage(prompts_, accountTabs_);
    ratioPage_ = new AccountRatioPage(prompts_, accountTabs_);
    ipAccessPage_ = new AccountIpAccessPage(prompts_, accountTabs_);
    loggingPage_ = new AccountLoggingPage(prompts_, accountTabs_);
    speedLimitPage_ = new AccountSpeedLimitPage(prompts_, accountTabs_);
    accountTabs_->addTab(rightsPage_, "Account");
    accountTabs_->addTab(morePage_, "More");
    accountTabs_->addTab(ratioPage_, "Ratio");
    accountTabs_->addTab(ipAccessPage_, "IP Access");
    accountTabs_->addTab(loggingPage_, "Logging");
    accountTabs_->addTab(speedLimitPage_, "Speed Limit");
    return accountTabs_;
}

QWidget* UserDatabaseDialog::BuildServerTabs() {
    serverTabs_ = new QTabWidget(this);
    serverTabs_->setObjectName("serverTabs");
    serverPage_ = new ServerSettingsPage(serverTabs_);
    serverTabs_->addTab(serverPage_, "Server Settings");
    return serverTabs_;
}

QTreeWidgetItem* UserDatabaseDialog::AddChild(QTreeWidgetItem* parent, const QString& text, ItemKind kind) {
    static const QStyle::StandardPixmap kImages[] = {QStyle::SP_DriveNetIcon, QStyle::SP_DirIcon, QStyle::SP_DirIcon,
                                                      QStyle::SP_FileDialogListView, QStyle::SP_FileIcon};
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setData(0, kKindRole, static_cast<int>(kind));
    item->setIcon(0, style()->standardIcon(kImages[static_cast<int>(kind) - 1]));
    if (parent) parent->addChild(item);
    return item;
}

QTreeWidgetItem* UserDatabaseDialog::AppendIpHome(const QString& title) {
    QTreeWidgetItem* home = AddChild(nullptr, title, ItemKind::IpHome);
    tree_->addTopLevelItem(home);
    AddChild(home, "Users", ItemKind::UsersFolder);
    AddChild(home, "Groups", ItemKind::GroupsFolder);
    return home;
}

void UserDatabaseDialog::LoadTree() {
    if (style()->standardIcon(QStyle::SP_FileIcon).isNull()) prompts_.ShowMessage("Failed to load images.");
    for (const std::string& title : store::ListTitles(databaseDir_, store::kIpHomeExtension)) {
        QTreeWidgetItem* home = AppendIpHome(FromStd(title));
        const fs::path usersDir = store::UsersDir(databaseDir_, title);
        const fs::path groupsDir = store::GroupsDir(databaseDir_, title);
        for (const std::string& user : store::ListTitles(usersDir, store::kUserExtension))
            AddChild(home->child(0), FromStd(user), ItemKind::User);
        for (const std::string& group : store::ListTitles(groupsDir, store::kGroupExtension)) {
            QTreeWidgetItem* groupItem = AddChild(home->child(1), FromStd(group), ItemKind::Group);
            for (const std::string& member :
                 store::ListTitles(store::GroupMembersDir(groupsDir, group), store::kUserExtension))
                AddChild(groupItem, FromStd(member), ItemKind::User);
        }
    }
}

// ---- paths -------------------------------------------------------------------

UserDatabaseDialog::ItemKind UserDatabaseDialog::KindOf(const QTreeWidgetItem* item) {
    return static_cast<ItemKind>(item->data(0, kKindRole).toInt());
}

QString UserDatabaseDialog::IpHomeTitle(const QTreeWidgetItem* item) const {
    while (item->parent()) item = item->parent();
    return item->text(0);
}

fs::path UserDatabaseDialog::UsersDir(const QTreeWidgetItem* item) const {
    return store::UsersDir(databaseDir_, ToStd(IpHomeTitle(item)));
}

fs::path UserDatabaseDialog::GroupsDir(const QTreeWidgetItem* item) const {
    return store::GroupsDir(databaseDir_, ToStd(IpHomeTitle(item)));
}

// The folder that holds the account files of a "Users" item or a group (or of a user's parent).
fs::path UserDatabaseDialog::AccountFolder(const QTreeWidgetItem* item) const {
    if (KindOf(item) == ItemKind::User) item = item->parent();
    if (KindOf(item) == ItemKind::Group) return store::GroupMembersDir(GroupsDir(item), ToStd(item->text(0)));
    return UsersDir(item);
}

fs::path UserDatabaseDialog::ItemFile(const QTreeWidgetItem* item) const {
    const std::string name = ToStd(item->text(0));
    switch (KindOf(item)) {
    case ItemKind::IpHome: return store::IpHomeFile(databaseDir_, name);
    case ItemKind::Group: return store::GroupFile(GroupsDir(item), name);
    case ItemKind::User: return store::UserFile(AccountFolder(item), name);
    case ItemKind::UsersFolder:
    case ItemKind::GroupsFolder: break;
    }
    return {};
}

// A user name is taken anywhere in its IP home (its users and every group's members), so that
// a login finds exactly one account; a group name is taken by a group of the same IP home.
bool UserDatabaseDialog::IsAccountTaken(const QTreeWidgetItem* item, const QString& name) const {
    if (KindOf(item) == ItemKind::Group || KindOf(item) == ItemKind::GroupsFolder) {
        const fs::path groupsDir = GroupsDir(item);
        return Exists(store::GroupFile(groupsDir, ToStd(name))) || Exists(store::GroupMembersDir(groupsDir, ToStd(name)));
    }
    return store::FindAccount(UsersDir(item), GroupsDir(item), ToStd(name)).has_value();
}

QString UserDatabaseDialog::FreeName(const QTreeWidgetItem* parent, const QString& base,
                                     const std::function<bool(const QString&)>& taken) const {
    const auto isSibling = [&](const QString& name) {
        const int count = parent ? parent->childCount() : tree_->topLevelItemCount();
        for (int i = 0; i < count; ++i)
            if ((parent ? parent->child(i) : tree_->topLevelItem(i))->text(0) == name) return true;
        return false;
    };
    for (int number = 0; number < kMaxNewNameTries; ++number) {
        const QString name = number == 0 ? base : QString("%1 %2").arg(base).arg(number);
        if (!isSibling(name) && !taken(name)) return name;
    }
    return {};
}

// ---- selection, loading and saving --------------------------------------------

void UserDatabaseDialog::SelectionChanged(QTreeWidgetItem* current) {
    if (current == loadedItem_) return;
    if (loadedItem_ && !SaveLoadedItem()) {
        const QSignalBlocker quiet(tree_);
        tree_->setCurrentItem(loadedItem_);
        return;
    }
    LoadItem(current);
}

void UserDatabaseDialog::LoadItem(QTreeWidgetItem* item) {
    loadedItem_ = item;
    if (!item) {
        stack_->setCurrentIndex(kFolderImagePage);
        return;
    }
    switch (KindOf(item)) {
    case ItemKind::IpHome:
        serverPage_->Load(store::ReadIpHome(ItemFile(item)));
        stack_->setCurrentIndex(kServerPage);
        return;
    case ItemKind::Group:
    case ItemKind::User: {
        const store::AccountValues values = store::ReadAccountValues(ItemFile(item));
        const bool group = KindOf(item) == ItemKind::Group;
        for (AccountPage* page : std::initializer_list<AccountPage*>{rightsPage_, morePage_, ratioPage_, ipAccessPage_,
                                                                      loggingPage_, speedLimitPage_}) {
            page->Load(values);
            page->SetGroupMode(group);
        }
        rightsPage_->SetName(item->text(0));
        stack_->setCurrentIndex(kAccountPage);
        return;
    }
    case ItemKind::UsersFolder:
    case ItemKind::GroupsFolder: stack_->setCurrentIndex(kFolderImagePage); return;
    }
}

bool UserDatabaseDialog::SaveLoadedItem() {
    if (!loadedItem_) return true;
    switch (KindOf(loadedItem_)) {
    case ItemKind::IpHome: return SaveIpHome(loadedItem_);
    case ItemKind::Group:
    case ItemKind::User: return SaveAccount(loadedItem_);
    case ItemKind::UsersFolder:
    case ItemKind::GroupsFolder: break;
    }
    return true;
}

bool UserDatabaseDialog::SaveAccount(QTreeWidgetItem* item) {
    store::AccountValues values;
    for (const AccountPage* page : std::initializer_list<const AccountPage*>{
             rightsPage_, morePage_, ratioPage_, ipAccessPage_, loggingPage_, speedLimitPage_})
        page->Store(values);
    if (!values.rootDir.empty() && !IsDirectory(values.rootDir)) {
        accountTabs_->setCurrentWidget(rightsPage_);
        prompts_.ShowMessage(QString("The Root-Directory \"%1\" does not exist.").arg(FromStd(values.rootDir)));
        return false;
    }
    if (rightsPage_->Name() != item->text(0)) RenameAccount(item, rightsPage_->Name());
    if (!store::WriteAccount(ItemFile(item), values))
        prompts_.ShowMessage(QString("Failed to save Account Info for user %1.").arg(item->text(0)));
    return true;
}

// A refused name leaves the account under its old name; the save goes on.
void UserDatabaseDialog::RenameAccount(QTreeWidgetItem* item, const QString& name) {
    const bool group = KindOf(item) == ItemKind::Group;
    const std::string_view extension = group ? store::kGroupExtension : store::kUserExtension;
    const QString oldName = item->text(0);
    rightsPage_->SetName(oldName);
    if (!store::FitsFileName(ToStd(name), extension)) {
        prompts_.ShowMessage(BadNameMessage(group ? "group" : "user", name, extension));
        return;
    }
    if (IsAccountTaken(item, name)) {
        prompts_.ShowMessage(QString("User \"%1\" already exists. Username not changed.").arg(name));
        return;
    }
    const bool renamed = group ? store::RenameGroup(GroupsDir(item), ToStd(oldName), ToStd(name))
                               : store::RenameUser(AccountFolder(item), ToStd(oldName), ToStd(name));
    if (!renamed) {
        prompts_.ShowMessage(QString("Failed to delete Account Info for user %1.").arg(oldName));
        return;
    }
    item->setText(0, name);
    rightsPage_->SetName(name);
    item->parent()->sortChildren(0, Qt::AscendingOrder);
}

bool UserDatabaseDialog::SaveIpHome(QTreeWidgetItem* item) {
    const ServerSettingsPage::Fields fields = serverPage_->Entered();
    if (fields.serverIp.isEmpty() || fields.serverPort.isEmpty()) {
        prompts_.ShowMessage("You have to set an IP and Port for this IP Home");
        return false;
    }
    bool portOk = false;
    const uint port = fields.serverPort.toUInt(&portOk);
    if (!portOk || port == 0 || port > 65535) {
        prompts_.ShowMessage("The Port of an IP Home is a number from 1 to 65535.");
        return false;
    }
    const std::optional<int> maxUsers = LimitValue(fields.maxUsers);
    const std::optional<int> maxTransfers = LimitValue(fields.maxTransfers);
    if (!maxUsers || !maxTransfers) {
        prompts_.ShowMessage(maxUsers ? "Value for Maximum Transfers is not valid."
                                      : "Value for Maximum Users is not valid.");
        return false;
    }
    const auto passivePorts = store::ParsePortRange(ToStd(fields.passivePorts));
    if (!fields.passivePorts.isEmpty() && !passivePorts) {
        prompts_.ShowMessage("Passive Ports are MIN-MAX, two ports from 1 to 65535.");
        return false;
    }
    if (!store::IsAddressList(ToStd(fields.trustedProxies))) {
        prompts_.ShowMessage("Trusted Proxies are IP addresses separated by commas.");
        return false;
    }
    const QString title = fields.serverIp + "-" + QString::number(port);
    if (item->text(0) != kDefaultIpHome && item->text(0) != title && !RenameIpHome(item, title)) return false;

    store::IpHome home;
    home.serverName = ToStd(fields.serverName);
    home.serverIp = ToStd(fields.serverIp);
    home.serverPort = ToStd(fields.serverPort);
    home.maxUsers = *maxUsers;
    home.maxTransfers = *maxTransfers;
    home.disabled = fields.disabled ? 1 : 0;
    home.storeOverwrite = fields.storeOverwrite ? 1 : 0;
    home.pasvPortMin = passivePorts ? passivePorts->first : 0;
    home.pasvPortMax = passivePorts ? passivePorts->second : 0;
    home.pasvAddress = ToStd(fields.passiveAddress);
    home.trustedProxies = ToStd(fields.trustedProxies);
    home.ipv6Only = fields.ipv6Only ? 1 : 0;
    if (!store::WriteIpHome(ItemFile(item), home))
        prompts_.ShowMessage(QString("Failed to save the IP Home \"%1\".").arg(item->text(0)));
    return true;
}

// False keeps the selection on the IP home: its address or port has to change first.
bool UserDatabaseDialog::RenameIpHome(QTreeWidgetItem* item, const QString& title) {
    const std::string newTitle = ToStd(title);
    if (!store::FitsFileName(newTitle, store::kIpHomeExtension) || newTitle == store::kDefaultIpHome) {
        prompts_.ShowMessage(QString("\"%1\" cannot name an IP Home: check its IP.").arg(title));
        return false;
    }
    if (Exists(store::IpHomeFile(databaseDir_, newTitle)) || Exists(store::IpHomeDir(databaseDir_, newTitle))) {
        prompts_.ShowMessage(QString("An IP Home \"%1\" already exists.").arg(title));
        return false;
    }
    // A failed rename (a read-only database) keeps the old name and lets the selection go.
    if (!store::RenameIpHome(databaseDir_, ToStd(item->text(0)), newTitle)) {
        prompts_.ShowMessage(QString("Failed to rename the IP Home \"%1\".").arg(item->text(0)));
        return true;
    }
    item->setText(0, title);
    return true;
}

void UserDatabaseDialog::Forget(QTreeWidgetItem* item) {
    for (const QTreeWidgetItem* up = loadedItem_; up; up = up->parent()) {
        if (up == item) {
            loadedItem_ = nullptr;
            return;
        }
    }
}

void UserDatabaseDialog::accept() {
    if (loadedItem_ && KindOf(loadedItem_) != ItemKind::IpHome) {
        const QString problem = ratioPage_->Problem();
        if (!problem.isEmpty()) {
            accountTabs_->setCurrentWidget(ratioPage_);
            prompts_.ShowMessage(problem);
            return;
        }
    }
    if (!SaveLoadedItem()) return;
    loadedItem_ = nullptr;
    QDialog::accept();
}

// Escape and the window's close box save like the Close button.
void UserDatabaseDialog::reject() { accept(); }

// ---- context menu ---------------------------------------------------------------

std::unique_ptr<QMenu> UserDatabaseDialog::BuildContextMenu(QTreeWidgetItem* item) {
    if (!item) return nullptr;
    auto menu = std::make_unique<QMenu>(this);
    const auto add = [&](const QString& text, auto command) {
        connect(menu->addAction(text), &QAction::triggered, this, [this, item, command] { (this->*command)(item); });
    };
    switch (KindOf(item)) {
    case ItemKind::IpHome:
        connect(menu->addAction("Add new IP Home"), &QAction::triggered, this, [this] { AddIpHome(); });
        add("Remove this IP Home", &UserDatabaseDialog::RemoveIpHome);
        break;
    case ItemKind::UsersFolder: add("Add User", &UserDatabaseDialog::AddUser); break;
    case ItemKind::GroupsFolder: add("Add Group", &UserDatabaseDialog::AddGroup); break;
    case ItemKind::Group:
        add("Add User to Group", &UserDatabaseDialog::AddUser);
        add("Restore Account Info", &UserDatabaseDialog::RestoreAccountInfo);
        add("Delete Group", &UserDatabaseDialog::DeleteGroup);
        break;
    case ItemKind::User:
        add("Restore Account Info", &UserDatabaseDialog::RestoreAccountInfo);
        add("Delete User", &UserDatabaseDialog::DeleteUser);
        break;
    }
    return menu;
}

void UserDatabaseDialog::AddIpHome() {
    const QString title = FreeName(nullptr, "[New IPHome]", [this](const QString& name) {
        return Exists(store::IpHomeFile(databaseDir_, ToStd(name))) || Exists(store::IpHomeDir(databaseDir_, ToStd(name)));
    });
    if (title.isEmpty() || !store::CreateIpHome(databaseDir_, ToStd(title))) {
        prompts_.ShowMessage(QString("Failed to create a new IP Home in %1.").arg(FromStd(databaseDir_.string())));
        return;
    }
    tree_->setCurrentItem(AppendIpHome(title));
}

void UserDatabaseDialog::RemoveIpHome(QTreeWidgetItem* item) {
    if (item->text(0) == kDefaultIpHome) {
        prompts_.ShowMessage("This IP Home cant be deleted.");
        return;
    }
    if (!prompts_.AskYesNo(
            QString("Delete this IP Home \"%1\" and its \nattached users and groups ?").arg(item->text(0))))
        return;
    if (!store::DeleteIpHome(databaseDir_, ToStd(item->text(0)))) {
        prompts_.ShowMessage(QString("Failed to delete the IP Home \"%1\" completely.").arg(item->text(0)));
        return;
    }
    Forget(item);
    delete item;
}

void UserDatabaseDialog::AddUser(QTreeWidgetItem* folder) {
    const QString name =
        FreeName(folder, "New User", [this, folder](const QString& candidate) { return IsAccountTaken(folder, candidate); });
    if (name.isEmpty() || !store::CreateUser(AccountFolder(folder), ToStd(name))) {
        prompts_.ShowMessage(QString("Failed to create a new user in %1.").arg(FromStd(AccountFolder(folder).string())));
        return;
    }
    AddChild(folder, name, ItemKind::User);
    folder->sortChildren(0, Qt::AscendingOrder);
    folder->setExpanded(true);
}

void UserDatabaseDialog::AddGroup(QTreeWidgetItem* groups) {
    const QString name =
        FreeName(groups, "New Group", [this, groups](const QString& candidate) { return IsAccountTaken(groups, candidate); });
    if (name.isEmpty() || !store::CreateGroup(GroupsDir(groups), ToStd(name))) {
        prompts_.ShowMessage(QString("Failed to create a new group in %1.").arg(FromStd(GroupsDir(groups).string())));
        return;
    }
    AddChild(groups, name, ItemKind::Group);
    groups->sortChildren(0, Qt::AscendingOrder);
    groups->setExpanded(true);
}

void UserDatabaseDialog::DeleteUser(QTreeWidgetItem* item) {
    if (!prompts_.AskYesNo(QString("Are you sure you want to delete the user \"%1\" ?").arg(item->text(0)))) return;
    if (!store::DeleteUser(AccountFolder(item), ToStd(item->text(0)))) {
        prompts_.ShowMessage(QString("Failed to delete Account Info for user %1.").arg(item->text(0)));
        return;
    }
    Forget(item);
    delete item;
}

void UserDatabaseDialog::DeleteGroup(QTreeWidgetItem* item) {
    if (!prompts_.AskYesNo(QString("Are you sure you want to delete the Group \"%1\" with all Users ?").arg(item->text(0))))
        return;
    if (!store::DeleteGroup(GroupsDir(item), ToStd(item->text(0)))) {
        prompts_.ShowMessage(QString("Failed to delete the Group \"%1\" completely.").arg(item->text(0)));
        return;
    }
    Forget(item);
    delete item;
}

void UserDatabaseDialog::RestoreAccountInfo(QTreeWidgetItem* item) {
    if (item == loadedItem_) LoadItem(item);
    else tree_->setCurrentItem(item);
}

}  // namespace tolvane::ui
