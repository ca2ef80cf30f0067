#include "ui/AccountLoggingPage.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QVBoxLayout>

namespace tolvane::ui {

AccountLoggingPage::AccountLoggingPage(EditorPrompts& prompts, QWidget* parent)
    : AccountPage(prompts, parent),
      enableBox_(NamedBox("Enable Logging", "enableLoggingBox", this)),
      maskEdit_(NamedEdit("filenameMaskEdit", this)),
      commandsBox_(NamedBox("FTP commands", "logCommandsBox", this)),
      repliesBox_(NamedBox("FTP replies", "logRepliesBox", this)),
      systemBox_(NamedBox("System Messages", "logSystemBox", this)) {
    maskEdit_->setToolTip("%DATE, %TIME, %USER and %IP are replaced");
    auto* form = new QFormLayout;
    form->addRow(enableBox_);
    form->addRow("Filename Mask:", maskEdit_);
    auto* content = new QGroupBox("Log", this);
    auto* boxes = new QVBoxLayout(content);
    boxes->addWidget(commandsBox_);
    boxes->addWidget(repliesBox_);
    boxes->addWidget(systemBox_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(content);
    layout->addStretch(1);
}

void AccountLoggingPage::Load(const store::AccountValues& values) {
    enableBox_->setChecked(values.logEnabled);
    maskEdit_->setText(FromStd(values.filenameMask));
    commandsBox_->setChecked(values.logFtpCommands);
    repliesBox_->setChecked(values.logFtpReplies);
    systemBox_->setChecked(values.logSystemMessages);
}

void AccountLoggingPage::Store(store::AccountValues& values) const {
    values.logEnabled = enableBox_->isChecked();
    values.filenameMask = ToStd(maskEdit_->text());
    values.logFtpCommands = commandsBox_->isChecked();
    values.logFtpReplies = repliesBox_->isChecked();
    values.logSystemMessages = systemBox_->isChecked();
}

}  // namespace tolvane::ui
