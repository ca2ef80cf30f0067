#pragma once

#include "ui/AccountPage.h"

class QComboBox;

namespace tolvane::ui {

// The "More" page: disabling, session limits, time-out, login message, listing options and
// what the account asks of FTPS.
class AccountMorePage : public AccountPage {
public:
    AccountMorePage(EditorPrompts& prompts, QWidget* parent);

    void Load(const store::AccountValues& values) override;
    void Store(store::AccountValues& values) const override;
    void SetGroupMode(bool group) override;

private:
    void BrowseLoginMessage();
    void ShowTlsPolicy(const QString& value);

    QCheckBox* disableBox_;
    QLineEdit* maxUsersEdit_;
    QCheckBox* allowBox_;
    QLineEdit* multipleLoginsEdit_;
    QLineEdit* timeoutEdit_;
    QLineEdit* loginMessageEdit_;
    QCheckBox* hideHiddenBox_;
    QCheckBox* relativePathBox_;
    QComboBox* tlsPolicyBox_;
};

}  // namespace tolvane::ui
