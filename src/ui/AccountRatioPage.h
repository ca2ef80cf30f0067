#pragma once

#include "ui/AccountPage.h"

class QComboBox;

namespace tolvane::ui {

// The "Ratio" page: upload/download ratio and the credit a session starts with.
class AccountRatioPage : public AccountPage {
public:
    AccountRatioPage(EditorPrompts& prompts, QWidget* parent);

    void Load(const store::AccountValues& values) override;
    void Store(store::AccountValues& values) const override;

    // The refusal to show when the ratio is on but cannot be counted; empty when it can.
    QString Problem() const;

private:
    QCheckBox* enableBox_;
    QComboBox* countBox_;
    QLineEdit* uploadEdit_;
    QLineEdit* downloadEdit_;
    QLineEdit* creditEdit_;
};

}  // namespace tolvane::ui
