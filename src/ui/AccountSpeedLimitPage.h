#pragma once

#include "ui/AccountPage.h"

#include <optional>

class QComboBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace tolvane::ui {

// The "Speed Limit" page: static limits and the table of time-of-day limits.
class AccountSpeedLimitPage : public AccountPage {
public:
    AccountSpeedLimitPage(EditorPrompts& prompts, QWidget* parent);

    void Load(const store::AccountValues& values) override;
    void Store(store::AccountValues& values) const override;

private:
    QWidget* BuildStaticBox();
    QWidget* BuildDynamicBox();
    // The rule the entry fields describe, or nothing after telling what is missing.
    std::optional<QString> EnteredRule();
    QTreeWidgetItem* SelectedRule(const QString& refusal);
    void AddRule();
    void EditRule();
    void RemoveRule();
    void ShowSelectedRule();

    QCheckBox* staticBox_ = nullptr;
    QLineEdit* receivingEdit_ = nullptr;
    QLineEdit* sendingEdit_ = nullptr;
    QLineEdit* listingEdit_ = nullptr;
    QCheckBox* dynamicBox_ = nullptr;
    QTreeWidget* ruleList_ = nullptr;
    QComboBox* dayBox_ = nullptr;
    QLineEdit* fromEdit_ = nullptr;
    QLineEdit* tillEdit_ = nullptr;
    QLineEdit* ruleReceivingEdit_ = nullptr;
    QLineEdit* ruleSendingEdit_ = nullptr;
    QLineEdit* ruleListingEdit_ = nullptr;
};

}  // namespace tolvane::ui
