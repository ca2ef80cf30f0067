#pragma once

#include "ui/SendProgressDialog.h"

#include <QDialog>
#include <QPointer>

#include <filesystem>

class QComboBox;
class QLineEdit;
class QTextEdit;

namespace tolvane::ui {

// "Contact the Developer": a feedback mail with the user's name, address, a subject and the
// message, sent to the address the installation's settings name.
class ContactDialog : public QDialog {
    Q_OBJECT

public:
    ContactDialog(std::filesystem::path settingsFile, QWidget* parent = nullptr);

    // Sends the mail in a progress window; says so instead when the endpoints are not set.
    void Send();

    QLineEdit* NameField() const { return name_; }
    QLineEdit* EmailField() const { return email_; }
    QComboBox* SubjectList() const { return subject_; }
    QTextEdit* MessageField() const { return message_; }
    SendProgressDialog* Progress() const { return progress_; }

protected:
    virtual void ShowMessage(const QString& text);

private:
    const std::filesystem::path settingsFile_;
    QLineEdit* name_ = nullptr;
    QLineEdit* email_ = nullptr;
    QComboBox* subject_ = nullptr;
    QTextEdit* message_ = nullptr;
    QPointer<SendProgressDialog> progress_;
};

}  // namespace tolvane::ui
