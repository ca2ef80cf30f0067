#include "ui/CreditDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include <limits>
#include <optional>

namespace tolvane::ui {
namespace {

std::optional<std::int64_t> ParseCredit(const QString& text) {
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

}  // namespace

CreditDialog::CreditDialog(const QString& accountName, std::int64_t currentCredit, QWidget* parent)
    : QDialog(parent), shown_(currentCredit) {
    setObjectName("creditDialog");
    setWindowTitle("Give / Take Credit Dialog");

    auto* page = new QWidget;
    auto* row = new QHBoxLayout(page);
    row->addWidget(new QLabel("Credit :"));
    edit_ = new QLineEdit(QString::number(currentCredit));
    edit_->setObjectName("creditEdit");
    // A signed whole number of at most 18 digits always fits the 64-bit credit.
    edit_->setValidator(new QRegularExpressionValidator(QRegularExpression("[-+]?[0-9]{0,18}"), edit_));
    row->addWidget(edit_, 1);
    auto* account = new QLabel(accountName);
    account->setObjectName("accountNameLabel");
    row->addWidget(account);

    auto* tabs = new QTabWidget;
    tabs->setObjectName("creditTabs");
    tabs->addTab(page, "Give / Take Credit");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setObjectName("okButton");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancelButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(edit_, &QLineEdit::textChanged, this, [this](const QString& text) { ok_->setEnabled(ParseCredit(text).has_value()); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    edit_->selectAll();
}

std::int64_t CreditDialog::Difference() const {
    if (result() != QDialog::Accepted) return 0;
    const auto entered = ParseCredit(edit_->text());
    if (!entered) return 0;
    std::int64_t difference = 0;
    if (__builtin_sub_overflow(*entered, shown_, &difference))
        return *entered < shown_ ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    return difference;
}

std::int64_t CreditDialog::Ask(QWidget* parent, const QString& accountName, std::int64_t currentCredit) {
    CreditDialog dialog(accountName, currentCredit, parent);
    dialog.exec();
    return dialog.Difference();
}

}  // namespace tolvane::ui
