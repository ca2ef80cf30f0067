#include "ui/AccountSpeedLimitPage.h"

#include "store/SpeedRules.h"
#include "ui/EditorPrompts.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace {

QStringList Days() {
    QStringList days;
    for (const std::string_view day : store::kSpeedRuleDays) days << FromStd(day);
    return days;
}

bool IsTime(const QString& text) { return store::IsSpeedRuleTime(ToStd(text)); }
bool IsSpeed(const QString& text) { return store::IsSpeedValue(ToStd(text)); }

// An empty speed field means no limit for that kind.
QString SpeedText(const QLineEdit* edit) {
    const QString text = edit->text().trimmed();
    return text.isEmpty() ? "0" : text;
}

// Columns Day, From, Till, speeds; the stored text rides along so that a rule the editor
// cannot split is saved back unchanged.
QTreeWidgetItem* RuleRow(const QString& rule) {
    const std::string text = ToStd(rule);
    const auto parts = store::SplitSpeedRule(text);
    auto* item = parts ? new QTreeWidgetItem({FromStd(parts->day), FromStd(parts->from), FromStd(parts->till),
                                              FromStd(parts->speeds)})
                       : new QTreeWidgetItem(QStringList{rule});
    item->setData(0, Qt::UserRole, rule);
    return item;
}

QLineEdit* SpeedEdit(const char* objectName, QWidget* parent) {
    QLineEdit* edit = NamedEdit(objectName, parent);
    edit->setMaximumWidth(80);
    return edit;
}

}  // namespace

AccountSpeedLimitPage::AccountSpeedLimitPage(EditorPrompts& prompts, QWidget* parent) : AccountPage(prompts, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuildStaticBox());
    layout->addWidget(BuildDynamicBox(), 1);
}

QWidget* AccountSpeedLimitPage::BuildStaticBox() {
    auto* box = new QGroupBox(this);
    staticBox_ = NamedBox("Static Speed Limits", "staticSpeedBox", box);
    receivingEdit_ = SpeedEdit("receivingSpeedEdit", box);
    sendingEdit_ = SpeedEdit("sendingSpeedEdit", box);
    listingEdit_ = SpeedEdit("listingSpeedEdit", box);
    auto* grid = new QGridLayout(box);
    grid->addWidget(staticBox_, 0, 0, 1, 3);
    const auto addRow = [&](int row, const QString& label, QLineEdit* edit) {
        grid->addWidget(new QLabel(label, box), row, 0);
        grid->addWidget(edit, row, 1);
        grid->addWidget(new QLabel("kb/s", box), row, 2);
    };
    addRow(1, "Receiving:", receivingEdit_);
    addRow(2, "Sending:", sendingEdit_);
    addRow(3, "List Transfers:", listingEdit_);
    grid->setColumnStretch(3, 1);
    return box;
}

QWidget* AccountSpeedLimitPage::BuildDynamicBox() {
    auto* box = new QGroupBox(this);
    dynamicBox_ = NamedBox("Dynamic Speed Limits", "dynamicSpeedBox", box);
    ruleList_ = new QTreeWidget(box);
    ruleList_->setObjectName("speedRuleList");
    ruleList_->setRootIsDecorated(false);
    ruleList_->setHeaderLabels({"Day", "From", "Till", "Speed(Recv,Send,List)"});
    connect(ruleList_, &QTreeWidget::currentItemChanged, this, [this] { ShowSelectedRule(); });
    dayBox_ = new QComboBox(box);
    dayBox_->setObjectName("dayBox");
    dayBox_->addItems(Days());
    dayBox_->setCurrentIndex(-1);
    fromEdit_ = SpeedEdit("fromEdit", box);
    tillEdit_ = SpeedEdit("tillEdit", box);
    ruleReceivingEdit_ = SpeedEdit("ruleReceivingEdit", box);
    ruleSendingEdit_ = SpeedEdit("ruleSendingEdit", box);
    ruleListingEdit_ = SpeedEdit("ruleListingEdit", box);

    auto* entry = new QGridLayout;
    entry->addWidget(new QLabel("Day:", box), 0, 0);
    entry->addWidget(dayBox_, 0, 1);
    entry->addWidget(new QLabel("From:", box), 0, 2);
    entry->addWidget(fromEdit_, 0, 3);
    entry->addWidget(new QLabel("Till:", box), 0, 4);
    entry->addWidget(tillEdit_, 0, 5);
    entry->addWidget(new QLabel("kb/s Recv:", box), 1, 0);
    entry->addWidget(ruleReceivingEdit_, 1, 1);
    entry->addWidget(new QLabel("Send:", box), 1, 2);
    entry->addWidget(ruleSendingEdit_, 1, 3);
    entry->addWidget(new QLabel("List:", box), 1, 4);
    entry->addWidget(ruleListingEdit_, 1, 5);
    entry->setColumnStretch(6, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (const auto& [text, objectName, handler] :
         {std::tuple{"Add", "speedAddButton", &AccountSpeedLimitPage::AddRule},
          std::tuple{"Edit", "speedEditButton", &AccountSpeedLimitPage::EditRule},
          std::tuple{"Remove", "speedRemoveButton", &AccountSpeedLimitPage::RemoveRule}}) {
        auto* button = new QPushButton(text, box);
        button->setObjectName(objectName);
        connect(button, &QPushButton::clicked, this, handler);
        buttons->addWidget(button);
    }

    auto* layout = new QVBoxLayout(box);
    layout->addWidget(dynamicBox_);
    layout->addWidget(ruleList_, 1);
    layout->addLayout(entry);
    layout->addLayout(buttons);
    return box;
}

void AccountSpeedLimitPage::Load(const store::AccountValues& values) {
    staticBox_->setChecked(values.speedLimitMode == store::SpeedLimitMode::Static);
    dynamicBox_->setChecked(values.speedLimitMode == store::SpeedLimitMode::Dynamic);
    receivingEdit_->setText(FromStd(values.receivingSpeed));
    sendingEdit_->setText(FromStd(values.sendingSpeed));
    listingEdit_->setText(FromStd(values.listingSpeed));
    ruleList_->clear();
    for (const std::string& rule : values.dynamicSpeedLimitRules) ruleList_->addTopLevelItem(RuleRow(FromStd(rule)));
}

void AccountSpeedLimitPage::Store(store::AccountValues& values) const {
    values.speedLimitMode = dynamicBox_->isChecked()  ? store::SpeedLimitMode::Dynamic
                            : staticBox_->isChecked() ? store::SpeedLimitMode::Static
                                                      : store::SpeedLimitMode::None;
    values.receivingSpeed = ToStd(receivingEdit_->text().trimmed());
    values.sendingSpeed = ToStd(sendingEdit_->text().trimmed());
    values.listingSpeed = ToStd(listingEdit_->text().trimmed());
    values.dynamicSpeedLimitRules.clear();
    for (int row = 0; row < ruleList_->topLevelItemCount(); ++row)
        values.dynamicSpeedLimitRules.push_back(ToStd(ruleList_->topLevelItem(row)->data(0, Qt::UserRole).toString()));
}

std::optional<QString> AccountSpeedLimitPage::EnteredRule() {
    if (dayBox_->currentIndex() < 0) {
        prompts_.ShowMessage("Select a Day.");
        return std::nullopt;
    }
    if (!IsTime(fromEdit_->text().trimmed())) {
        prompts_.ShowMessage("Please enter a Start time.");
        return std::nullopt;
    }
    if (!IsTime(tillEdit_->text().trimmed())) {
        prompts_.ShowMessage("Please enter a Ending time.");
        return std::nullopt;
    }
    const QStringList speeds = {SpeedText(ruleReceivingEdit_), SpeedText(ruleSendingEdit_), SpeedText(ruleListingEdit_)};
    for (const QString& speed : speeds) {
        if (!IsSpeed(speed)) {
            prompts_.ShowMessage("Enter the speeds in kb/s, for example 12.5.");
            return std::nullopt;
        }
    }
    return dayBox_->currentText() + "-" + fromEdit_->text().trimmed() + "-" + tillEdit_->text().trimmed() + "-" +
           speeds.join(',');
}

QTreeWidgetItem* AccountSpeedLimitPage::SelectedRule(const QString& refusal) {
    for (int row = 0; row < ruleList_->topLevelItemCount(); ++row)
        if (ruleList_->topLevelItem(row)->isSelected()) return ruleList_->topLevelItem(row);
    prompts_.ShowMessage(refusal);
    return nullptr;
}

void AccountSpeedLimitPage::AddRule() {
    if (const auto rule = EnteredRule()) ruleList_->addTopLevelItem(RuleRow(*rule));
}

void AccountSpeedLimitPage::EditRule() {
    QTreeWidgetItem* selected = SelectedRule("Select the rule you want to edit");
    if (!selected) return;
    if (const auto rule = EnteredRule()) {
        const int row = ruleList_->indexOfTopLevelItem(selected);
        delete ruleList_->takeTopLevelItem(row);
        ruleList_->insertTopLevelItem(row, RuleRow(*rule));
    }
}

void AccountSpeedLimitPage::RemoveRule() {
    if (QTreeWidgetItem* selected = SelectedRule("Select the rule you want to remove"))
        delete ruleList_->takeTopLevelItem(ruleList_->indexOfTopLevelItem(selected));
}

void AccountSpeedLimitPage::ShowSelectedRule() {
    const QTreeWidgetItem* item = ruleList_->currentItem();
    if (!item || item->text(3).isEmpty()) return;
    dayBox_->setCurrentIndex(Days().indexOf(item->text(0)));
    fromEdit_->setText(item->text(1));
    tillEdit_->setText(item->text(2));
    const std::string speeds = ToStd(item->text(3));
    const auto [receiving, sending, listing] = store::SplitSpeeds(speeds);
    ruleReceivingEdit_->setText(FromStd(receiving));
    ruleSendingEdit_->setText(FromStd(sending));
    ruleListingEdit_->setText(FromStd(listing));
}

}  // namespace tolvane::ui
