#pragma once

#include "ui/AccountPage.h"

namespace tolvane::ui {

// The "More" page: disabling, session limits, time-out, login message and listing options.
class AccountMorePage : public AccountPage {
public:
    AccountMorePage(EditorPrompts& prompts, QWidget* parent);

    void Load(const store::AccountValues& values) override;
    void Store(store::AccountValues& values) const override;
    void SetGroupMode(bool group) override;

private:
    void BrowseLoginMessage();

    QCheckBox* disableBox_;
    QLineEdit* maxUsersEdit_;
    QCheckBox* allowBox_;
    QLineEdit* multipleLoginsEdit_;
    QLineEdit* timeoutEdit_;
    QLineEdit* loginMessageEdit_;
    QCheckBox* hideHiddenBox_;
    QCheckBox* relativePathBox_;
};

}  // namespace tolvane::ui
