#pragma once

#include "ui/AccountPage.h"

class QComboBox;
class QPushButton;
class QTreeWidget;

namespace tolvane::ui {

// The "IP Access" page: which client addresses may log in.
class AccountIpAccessPage : public AccountPage {
public:
    AccountIpAccessPage(EditorPrompts& prompts, QWidget* parent);

    void Load(const store::AccountValues& values) override;
    void Store(store::AccountValues& values) const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void AddRule();
    void RemoveRule();
    void EnableControls();
    void FitRuleColumn();

    QCheckBox* enableBox_;
    QTreeWidget* ruleList_;
    QComboBox* typeBox_;
    QLineEdit* ipEdit_;
    QPushButton* addButton_;
    QPushButton* removeButton_;
};

}  // namespace tolvane::ui
