#include "ui/AccountRightsPage.h"

#include "ui/EditorPrompts.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace tolvane::ui {
namespace {

struct LetterControl {
    store::Permission permission;
    const char* label;
    const char* objectName;
};

// The rule boxes in their groups: file rules, directory rules, sub-directories.
constexpr std::array<LetterControl, 11> kLetterControls{{
    {store::Permission::Read, "Read", "ruleRead"},
    {store::Permission::Write, "Write", "ruleWrite"},
    {store::Permission::Delete, "Delete", "ruleDelete"},
    {store::Permission::RenameFile, "Rename", "ruleFileRename"},
    {store::Permission::Execute, "Execute", "ruleExecute"},
    {store::Permission::List, "List", "ruleList"},
    {store::Permission::MakeDirectory, "Make", "ruleMake"},
    {store::Permission::RemoveDirectory, "Remove", "ruleRemove"},
    {store::Permission::RenameDirectory, "Rename", "ruleDirRename"},
    {store::Permission::Deny, "Deny", "ruleDeny"},
    {store::Permission::Inherit, "Inherit Rules to Sub-Directories", "ruleInherit"},
}};
constexpr int kFileRuleCount = 5;
constexpr int kDirectoryRuleCount = 4;

QString WithTrailingSlash(QString path) {
    if (!path.isEmpty() && !path.endsWith('/')) path += '/';
    return path;
}

QPushButton* NamedButton(const QString& text, const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    return button;
}

}  // namespace

AccountRightsPage::AccountRightsPage(EditorPrompts& prompts, QWidget* parent)
    : AccountPage(prompts, parent),
      nameEdit_(NamedEdit("usernameEdit", this)),
      passwordEdit_(NamedEdit("passwordEdit", this)),
      rootEdit_(NamedEdit("rootDirectoryEdit", this)) {
    passwordEdit_->setEchoMode(QLineEdit::Password);
    auto* rootRow = new QHBoxLayout;
    rootRow->addWidget(rootEdit_);
    auto* browse = NamedButton("...", "rootDirectoryBrowse", this);
    browse->setFixedWidth(32);
    connect(browse, &QPushButton::clicked, this, [this] { BrowseRoot(); });
    rootRow->addWidget(browse);

    auto* form = new QFormLayout;
    form->addRow("Username:", nameEdit_);
    form->addRow("Password:", passwordEdit_);
    form->addRow("Root-Directory:", rootRow);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(BuildRulesBox(), 1);
    ShowSelectedRule();
}

QWidget* AccountRightsPage::BuildRulesBox() {
    auto* box = new QGroupBox("Accessing Rules", this);
    auto* directories = new QVBoxLayout;
    directories->addWidget(new QLabel("Directories", box));
    directoryList_ = new QListWidget(box);
    directoryList_->setObjectName("directoryList");
    connect(directoryList_, &QListWidget::currentRowChanged, this, [this] { ShowSelectedRule(); });
    directories->addWidget(directoryList_, 1);
    auto* buttons = new QHBoxLayout;
    auto* add = NamedButton("Add Folder", "addFolderButton", box);
    deleteFolderButton_ = NamedButton("Delete Folder", "deleteFolderButton", box);
    connect(add, &QPushButton::clicked, this, [this] { AddFolder(); });
    connect(deleteFolderButton_, &QPushButton::clicked, this, [this] { DeleteFolder(); });
    buttons->addWidget(add);
    buttons->addWidget(deleteFolderButton_);
    directories->addLayout(buttons);

    auto* letters = new QVBoxLayout;
    const auto addGroup = [&](const QString& title, int first, int count) {
        auto* group = new QGroupBox(title, box);
        auto* column = new QVBoxLayout(group);
        for (int i = first; i < first + count; ++i) {
            const LetterControl& control = kLetterControls[static_cast<std::size_t>(i)];
            letterBoxes_[static_cast<std::size_t>(i)] = {control.permission, NamedBox(control.label, control.objectName, group)};
            column->addWidget(letterBoxes_[static_cast<std::size_t>(i)].box);
            connect(letterBoxes_[static_cast<std::size_t>(i)].box, &QCheckBox::clicked, this, [this] { TakeLetters(); });
        }
        letters->addWidget(group);
    };
    addGroup("File Rules", 0, kFileRuleCount);
    addGroup("Directory Rules", kFileRuleCount, kDirectoryRuleCount);
    addGroup("Sub Directorys", kFileRuleCount + kDirectoryRuleCount, 2);
    letters->addStretch(1);

    auto* layout = new QHBoxLayout(box);
    layout->addLayout(directories, 1);
    layout->addLayout(letters);
    return box;
}

QString AccountRightsPage::Name() const { return nameEdit_->text(); }
void AccountRightsPage::SetName(const QString& name) { nameEdit_->setText(name); }

void AccountRightsPage::Load(const store::AccountValues& values) {
    passwordEdit_->setText(FromStd(values.password));
    rootEdit_->setText(FromStd(values.rootDir));
    rules_.assign(values.accessingRules.rbegin(), values.accessingRules.rend());
    ShowRules();
    if (!rules_.empty()) directoryList_->setCurrentRow(0);
}

void AccountRightsPage::Store(store::AccountValues& values) const {
    values.password = ToStd(passwordEdit_->text());
    values.rootDir = ToStd(WithTrailingSlash(rootEdit_->text().trimmed()));
    values.accessingRules.assign(rules_.rbegin(), rules_.rend());
}

// A member logs in with its own password; the group's would never be read.
void AccountRightsPage::SetGroupMode(bool group) {
    passwordEdit_->setEnabled(!group);
    if (group) passwordEdit_->clear();
}

void AccountRightsPage::BrowseRoot() {
    const QString folder = prompts_.ChooseFolder(rootEdit_->text());
    if (!folder.isEmpty()) rootEdit_->setText(WithTrailingSlash(folder));
}

void AccountRightsPage::AddFolder() {
    const QString folder = WithTrailingSlash(prompts_.ChooseFolder(rootEdit_->text()));
    if (folder.isEmpty()) return;
    // Older readers of the account file end a rule's path at its first comma.
    if (folder.contains(',')) {
        prompts_.ShowMessage("A folder whose path contains a comma cannot have a rule.");
        return;
    }
    const auto same = std::find_if(rules_.begin(), rules_.end(),
                                   [&](const store::AccessingRule& rule) { return rule.path == ToStd(folder); });
    if (same == rules_.end()) {
        rules_.insert(rules_.begin(), {ToStd(folder), std::string()});
        ShowRules();
        directoryList_->setCurrentRow(0);
    } else {
        directoryList_->setCurrentRow(static_cast<int>(same - rules_.begin()));
    }
}

void AccountRightsPage::DeleteFolder() {
    const int row = directoryList_->currentRow();
    if (row < 0 || row >= static_cast<int>(rules_.size())) return;
    rules_.erase(rules_.begin() + row);
    ShowRules();
}

void AccountRightsPage::ShowRules() {
    {
        const QSignalBlocker quiet(directoryList_);
        directoryList_->clear();
        for (const store::AccessingRule& rule : rules_) directoryList_->addItem(FromStd(rule.path));
    }
    ShowSelectedRule();
}

void AccountRightsPage::ShowSelectedRule() {
    const int row = directoryList_->currentRow();
    const bool selected = row >= 0 && row < static_cast<int>(rules_.size());
    deleteFolderButton_->setEnabled(selected);
    for (const LetterBox& entry : letterBoxes_) {
        entry.box->setChecked(selected &&
                              store::Grants(rules_[static_cast<std::size_t>(row)].letters, entry.permission));
        // No command checks Execute: the box shows the stored letter and keeps it.
        entry.box->setEnabled(selected && entry.permission != store::Permission::Execute);
    }
}

void AccountRightsPage::TakeLetters() {
    const int row = directoryList_->currentRow();
    if (row < 0 || row >= static_cast<int>(rules_.size())) return;
    std::string letters;
    for (const LetterBox& entry : letterBoxes_)
        if (entry.box->isChecked()) letters += store::LetterOf(entry.permission);
    rules_[static_cast<std::size_t>(row)].letters = letters;
}

}  // namespace tolvane::ui
