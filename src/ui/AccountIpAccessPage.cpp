#include "ui/AccountIpAccessPage.h"

#include "store/IpRules.h"
#include "ui/EditorPrompts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace {

constexpr int kDenyIndex = 1;

QTreeWidgetItem* RuleRow(const QString& type, const QString& pattern) {
    return new QTreeWidgetItem(QStringList{type, pattern});
}

}  // namespace

AccountIpAccessPage::AccountIpAccessPage(EditorPrompts& prompts, QWidget* parent)
    : AccountPage(prompts, parent),
      enableBox_(NamedBox("Enable IP Access Rules", "enableIpAccessBox", this)),
      ruleList_(new QTreeWidget(this)),
      typeBox_(new QComboBox(this)),
      ipEdit_(NamedEdit("ipEdit", this)),
      addButton_(new QPushButton("Add", this)),
      removeButton_(new QPushButton("Remove", this)) {
    ruleList_->setObjectName("ipRuleList");
    ruleList_->setRootIsDecorated(false);
    ruleList_->setHeaderLabels({"Rule", "IP Address"});
    typeBox_->setObjectName("ipTypeBox");
    typeBox_->addItems({"Allow Access", "Deny Access"});
    typeBox_->setCurrentIndex(kDenyIndex);
    addButton_->setObjectName("ipAddButton");
    removeButton_->setObjectName("ipRemoveButton");
    connect(addButton_, &QPushButton::clicked, this, [this] { AddRule(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { RemoveRule(); });
    connect(enableBox_, &QCheckBox::toggled, this, [this] { EnableControls(); });

    auto* entry = new QFormLayout;
    entry->addRow("Type:", typeBox_);
    entry->addRow("IP:", ipEdit_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(addButton_);
    buttons->addWidget(removeButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(enableBox_);
    layout->addWidget(ruleList_, 1);
    layout->addLayout(entry);
    layout->addLayout(buttons);
    EnableControls();
}

void AccountIpAccessPage::resizeEvent(QResizeEvent* event) {
    AccountPage::resizeEvent(event);
    FitRuleColumn();
}

void AccountIpAccessPage::showEvent(QShowEvent* event) {
    AccountPage::showEvent(event);
    FitRuleColumn();
}

// The rule column takes a third of the list's width.
void AccountIpAccessPage::FitRuleColumn() { ruleList_->setColumnWidth(0, ruleList_->viewport()->width() / 3); }

// The box has no key of its own: it is on while the account has rules, and off saves none.
void AccountIpAccessPage::Load(const store::AccountValues& values) {
    ruleList_->clear();
    for (const std::string& rule : values.ipAccessRules) {
        const auto parsed = store::ParseIpRule(rule);
        ruleList_->insertTopLevelItem(0, parsed ? RuleRow(FromStd(parsed->type), FromStd(parsed->pattern))
                                                : RuleRow(FromStd(rule), QString()));
    }
    enableBox_->setChecked(!values.ipAccessRules.empty());
    EnableControls();
}

void AccountIpAccessPage::Store(store::AccountValues& values) const {
    values.ipAccessRules.clear();
    if (!enableBox_->isChecked()) return;
    for (int row = ruleList_->topLevelItemCount() - 1; row >= 0; --row) {
        const QTreeWidgetItem* item = ruleList_->topLevelItem(row);
        values.ipAccessRules.push_back(ToStd(item->text(0) + ":" + item->text(1)));
    }
}

void AccountIpAccessPage::AddRule() {
    const QString pattern = ipEdit_->text().trimmed();
    if (pattern.isEmpty()) {
        prompts_.ShowMessage("You have to specify an IP Address");
        return;
    }
    ruleList_->insertTopLevelItem(0, RuleRow(typeBox_->currentIndex() == kDenyIndex ? "Deny" : "Allow", pattern));
}

void AccountIpAccessPage::RemoveRule() {
    for (int row = 0; row < ruleList_->topLevelItemCount(); ++row) {
        if (ruleList_->topLevelItem(row)->isSelected()) {
            delete ruleList_->takeTopLevelItem(row);
            return;
        }
    }
    prompts_.ShowMessage("Select the rule you want to delete first");
}

void AccountIpAccessPage::EnableControls() {
    const bool on = enableBox_->isChecked();
    for (QWidget* control : {static_cast<QWidget*>(ruleList_), static_cast<QWidget*>(typeBox_),
                             static_cast<QWidget*>(ipEdit_), static_cast<QWidget*>(addButton_),
                             static_cast<QWidget*>(removeButton_)})
        control->setEnabled(on);
}

}  // namespace tolvane::ui
