#include "ui/SpeedLimitDialog.h"

#include <QDialogButtonBox>
#include <QDoubleValidator>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdint>
#include <limits>

namespace tolvane::ui {
namespace {

// The largest kb/s value whose bytes per second still fit the 32-bit limit.
constexpr double kMaxKbPerSecond = std::numeric_limits<std::uint32_t>::max() / 1024.0;

}  // namespace

SpeedLimitDialog::SpeedLimitDialog(double currentKbPerSecond, QWidget* parent)
    : QDialog(parent), shown_(currentKbPerSecond) {
    setObjectName("speedLimitDialog");
    setWindowTitle("Change Speed Limit");

    // Enough digits to show any limit in 1/1024 steps exactly, without trailing zeros.
    shownText_ = QString::number(currentKbPerSecond, 'g', 17);
    edit_ = new QLineEdit(shownText_);
    edit_->setObjectName("speedEdit");
    auto* validator = new QDoubleValidator(0.0, kMaxKbPerSecond, 10, edit_);
    validator->setNotation(QDoubleValidator::StandardNotation);
    validator->setLocale(QLocale::c());  // the field shows and takes '.' decimals everywhere
    edit_->setValidator(validator);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Speed :"));
    row->addWidget(edit_, 1);
    row->addWidget(new QLabel("kb/s"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setObjectName("okButton");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancelButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(edit_, &QLineEdit::textChanged, this, [this] { ok_->setEnabled(edit_->hasAcceptableInput()); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    edit_->selectAll();
}

double SpeedLimitDialog::Value() const {
    if (result() != QDialog::Accepted || edit_->text() == shownText_ || !edit_->hasAcceptableInput()) return shown_;
    bool ok = false;
    const double value = QLocale::c().toDouble(edit_->text(), &ok);
    return ok ? value : shown_;
}

double SpeedLimitDialog::Ask(QWidget* parent, double currentKbPerSecond) {
    SpeedLimitDialog dialog(currentKbPerSecond, parent);
    dialog.exec();
    return dialog.Value();
}

}  // namespace tolvane::ui
