#include "ui/AccountRatioPage.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace {

const QStringList kCountingTypes = {"Bytes per Session", "Files per Session", "Bytes per Sessions",
                                    "Files per Sessions"};

// A whole number other than 0 that the login reads back unchanged.
bool IsNonZeroInteger(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok && value != 0;
}

}  // namespace

AccountRatioPage::AccountRatioPage(EditorPrompts& prompts, QWidget* parent)
    : AccountPage(prompts, parent),
      enableBox_(NamedBox("Enable Ratio", "enableRatioBox", this)),
      countBox_(new QComboBox(this)),
      uploadEdit_(NamedEdit("uploadEdit", this)),
      downloadEdit_(NamedEdit("downloadEdit", this)),
      creditEdit_(NamedEdit("creditEdit", this)) {
    countBox_->setObjectName("countBox");
    countBox_->addItems(kCountingTypes);
    countBox_->setCurrentIndex(-1);
    constexpr int kNumberWidth = 120;
    for (QLineEdit* number : {uploadEdit_, downloadEdit_, creditEdit_}) number->setMaximumWidth(kNumberWidth);

    auto* ratio = new QHBoxLayout;
    ratio->addWidget(uploadEdit_);
    ratio->addWidget(new QLabel("/", this));
    ratio->addWidget(downloadEdit_);
    ratio->addStretch(1);
    auto* credit = new QHBoxLayout;
    credit->addWidget(creditEdit_);
    credit->addWidget(new QLabel("bytes", this));
    credit->addStretch(1);

    auto* form = new QFormLayout;
    form->addRow(enableBox_);
    form->addRow("Count:", countBox_);
    form->addRow("Uploads / Downloads:", ratio);
    form->addRow("Startup / Current Credit :", credit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch(1);
}

void AccountRatioPage::Load(const store::AccountValues& values) {
    enableBox_->setChecked(values.ratioEnabled);
    countBox_->setCurrentIndex(kCountingTypes.indexOf(FromStd(values.ratioType)));
    uploadEdit_->setText(FromStd(values.upload));
    downloadEdit_->setText(FromStd(values.download));
    creditEdit_->setText(FromStd(values.credit));
}

void AccountRatioPage::Store(store::AccountValues& values) const {
    values.ratioEnabled = enableBox_->isChecked();
    values.ratioType = ToStd(countBox_->currentText());
    values.upload = ToStd(uploadEdit_->text().trimmed());
    values.download = ToStd(downloadEdit_->text().trimmed());
    values.credit = ToStd(creditEdit_->text().trimmed());
}

QString AccountRatioPage::Problem() const {
    if (!enableBox_->isChecked()) return {};
    if (countBox_->currentIndex() < 0) return "When Ratio enabled , you have to choose a Counting Type.";
    if (uploadEdit_->text().trimmed().isEmpty() || downloadEdit_->text().trimmed().isEmpty())
        return "When Ratio is enabled, you have to enter a value for \"Upload\" and \"Download\"";
    if (!IsNonZeroInteger(uploadEdit_->text()) || !IsNonZeroInteger(downloadEdit_->text()))
        return "Enter valid values for \"Upload\" and \"Download\"";
    return {};
}

}  // namespace tolvane::ui
