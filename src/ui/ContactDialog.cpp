#include "ui/ContactDialog.h"

#include "clients/FeedbackSender.h"
#include "store/ClientEndpoints.h"
#include "ui/SendProgressDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTextEdit>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace {

// The message is typed by hand; a bound keeps a pasted file from becoming the mail.
constexpr int kMaxMessageCharacters = 64 * 1024;

}  // namespace

ContactDialog::ContactDialog(std::filesystem::path settingsFile, QWidget* parent)
    : QDialog(parent), settingsFile_(std::move(settingsFile)) {
    setWindowTitle("Contact the Developer");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    name_ = new QLineEdit(this);
    email_ = new QLineEdit(this);
    subject_ = new QComboBox(this);
    subject_->addItems({"(Select a Subject)", "Bug Report", "Suggestion", "Request", "Other"});
    message_ = new QTextEdit(this);
    message_->setAcceptRichText(false);
    form->addRow("Name", name_);
    form->addRow("eMail Address", email_);
    form->addRow("Subject", subject_);
    form->addRow("Message", message_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->addButton("Send", QDialogButtonBox::AcceptRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ContactDialog::Send);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void ContactDialog::Send() {
    const store::FeedbackEndpoints endpoints = store::ReadFeedbackEndpoints(settingsFile_);
    const auto missing = endpoints.MissingKeys();
    if (!missing.empty()) {
        QStringList keys;
        for (const auto& key : missing) keys << QString::fromStdString(key);
        ShowMessage("The feedback mail is not set up yet: set " + keys.join(", ") + " in the [Feedback] section of " +
                    QString::fromStdString(settingsFile_.string()) + ".");
        return;
    }
    if (progress_) return;
    const QString text = message_->toPlainText().left(kMaxMessageCharacters);
    const clients::FeedbackForm form{name_->text().toStdString(), email_->text().toStdString(),
                                     subject_->currentText().toStdString(), text.toStdString()};
    progress_ = new SendProgressDialog(endpoints, form, this);
    progress_->setAttribute(Qt::WA_DeleteOnClose);
    progress_->open();
}

void ContactDialog::ShowMessage(const QString& text) { QMessageBox::information(this, windowTitle(), text); }

}  // namespace tolvane::ui
