#pragma once

#include "ui/AccountPage.h"

#include <array>
#include <vector>

class QListWidget;
class QPushButton;

namespace tolvane::ui {

// The first page ("Account"): name, password, home directory and the directory rules with
// their permission letters.
class AccountRightsPage : public AccountPage {
public:
    AccountRightsPage(EditorPrompts& prompts, QWidget* parent);

    void Load(const store::AccountValues& values) override;
    void Store(store::AccountValues& values) const override;
    void SetGroupMode(bool group) override;

    QString Name() const;
    void SetName(const QString& name);

private:
    struct LetterBox {
        store::Permission permission;
        QCheckBox* box;
    };

    QWidget* BuildRulesBox();
    void BrowseRoot();
    void AddFolder();
    void DeleteFolder();
    void ShowSelectedRule();
    void TakeLetters();
    void ShowRules();

    QLineEdit* nameEdit_;
    QLineEdit* passwordEdit_;
    QLineEdit* rootEdit_;
    QListWidget* directoryList_ = nullptr;
    QPushButton* deleteFolderButton_ = nullptr;
    std::array<LetterBox, 11> letterBoxes_{};
    std::vector<store::AccessingRule> rules_;  // in display order: the file's last rule first
};

}  // namespace tolvane::ui
