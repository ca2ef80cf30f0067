#pragma once

#include "ui/AccountPage.h"

namespace tolvane::ui {

// The "Logging" page: the session log file and what goes into it.
class AccountLoggingPage : public AccountPage {
public:
    AccountLoggingPage(EditorPrompts& prompts, QWidget* parent);

    void Load(const store::AccountValues& values) override;
    void Store(store::AccountValues& values) const override;

private:
    QCheckBox* enableBox_;
    QLineEdit* maskEdit_;
    QCheckBox* commandsBox_;
    QCheckBox* repliesBox_;
    QCheckBox* systemBox_;
};

}  // namespace tolvane::ui
