#pragma once

#include <QDialog>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>

class QLabel;
class QMenu;
class QStackedWidget;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace tolvane::ui {

class AccountIpAccessPage;
class AccountLoggingPage;
class AccountMorePage;
class AccountPage;
class AccountRatioPage;
class AccountRightsPage;
class AccountSpeedLimitPage;
class EditorPrompts;
class ServerSettingsPage;

// The "User Database" dialog: the account database as a tree of IP homes, their users, groups
// and members, with the selected item's settings in pages. Every change goes to the files at
// once: entries when they are added, renamed or deleted, settings when the selection leaves
// an item and on Close.
class UserDatabaseDialog : public QDialog {
    Q_OBJECT

public:
    enum class ItemKind { IpHome = 1, UsersFolder, GroupsFolder, Group, User };

    UserDatabaseDialog(std::filesystem::path databaseDir, EditorPrompts& prompts, QWidget* parent = nullptr);
    ~UserDatabaseDialog() override;

    QTreeWidget& Tree() const { return *tree_; }
    static ItemKind KindOf(const QTreeWidgetItem* item);
    // The commands of the item's context menu, in their order.
    std::unique_ptr<QMenu> BuildContextMenu(QTreeWidgetItem* item);

    // Close: checks the ratio, saves the current item and closes, or stays open.
    void accept() override;
    void reject() override;

private:
    void BuildLayout();
    QWidget* BuildAccountTabs();
    QWidget* BuildServerTabs();
    void LoadTree();
    QTreeWidgetItem* AppendIpHome(const QString& title);
    QTreeWidgetItem* AddChild(QTreeWidgetItem* parent, const QString& text, ItemKind kind);

    // ---- paths of tree items ----
    QString IpHomeTitle(const QTreeWidgetItem* item) const;
    std::filesystem::path UsersDir(const QTreeWidgetItem* item) const;
    std::filesystem::path GroupsDir(const QTreeWidgetItem* item) const;
    std::filesystem::path AccountFolder(const QTreeWidgetItem* userOrFolder) const;
    std::filesystem::path ItemFile(const QTreeWidgetItem* item) const;
    bool IsAccountTaken(const QTreeWidgetItem* item, const QString& name) const;
    QString FreeName(const QTreeWidgetItem* parent, const QString& base,
                     const std::function<bool(const QString&)>& taken) const;

    // ---- selection, loading and saving ----
    void SelectionChanged(QTreeWidgetItem* current);
    void LoadItem(QTreeWidgetItem* item);
    bool SaveLoadedItem();
    bool SaveAccount(QTreeWidgetItem* item);
    void RenameAccount(QTreeWidgetItem* item, const QString& name);
    bool SaveIpHome(QTreeWidgetItem* item);
    bool RenameIpHome(QTreeWidgetItem* item, const QString& title);
    // The loaded item or one of its ancestors is going away: nothing is saved for it.
    void Forget(QTreeWidgetItem* item);

    // ---- context menu commands ----
    void AddIpHome();
    void RemoveIpHome(QTreeWidgetItem* item);
    void AddUser(QTreeWidgetItem* folder);
    void AddGroup(QTreeWidgetItem* groups);
    void DeleteUser(QTreeWidgetItem* item);
    void DeleteGroup(QTreeWidgetItem* item);
    void RestoreAccountInfo(QTreeWidgetItem* item);

    const std::filesystem::path databaseDir_;
    EditorPrompts& prompts_;
    QTreeWidget* tree_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QLabel* folderImage_ = nullptr;
    QTabWidget* accountTabs_ = nullptr;
    QTabWidget* serverTabs_ = nullptr;
    AccountRightsPage* rightsPage_ = nullptr;
    AccountMorePage* morePage_ = nullptr;
    AccountRatioPage* ratioPage_ = nullptr;
    AccountIpAccessPage* ipAccessPage_ = nullptr;
    AccountLoggingPage* loggingPage_ = nullptr;
    AccountSpeedLimitPage* speedLimitPage_ = nullptr;
    ServerSettingsPage* serverPage_ = nullptr;
    QTreeWidgetItem* loadedItem_ = nullptr;
};

}  // namespace tolvane::ui
