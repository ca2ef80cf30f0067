#include "ui/AccountMorePage.h"

#include "ui/EditorPrompts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <iterator>
#include <utility>

namespace tolvane::ui {
namespace {

const QString kTextFileFilter = "Ascii - Text File (*.txt)";

// Shown text and the value the account file keeps; empty: the IP home's policy.
const std::pair<const char*, const char*> kTlsPolicies[] = {
    {"As the IP home says", ""},
    {"Refused", "off"},
    {"Allowed", "allowed"},
    {"Required for login", "login"},
    {"Required for login and data", "data"},
};

QComboBox* TlsPolicyBox(QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setObjectName("tlsPolicyBox");
    for (const auto& [text, value] : kTlsPolicies) box->addItem(text, QString(value));
    return box;
}

QHBoxLayout* Row(QWidget* first, QWidget* second) {
    auto* row = new QHBoxLayout;
    row->addWidget(first);
    row->addWidget(second);
    return row;
}

}  // namespace

AccountMorePage::AccountMorePage(EditorPrompts& prompts, QWidget* parent)
    : AccountPage(prompts, parent),
      disableBox_(NamedBox("Disable Account", "disableAccountBox", this)),
      maxUsersEdit_(NamedEdit("maxUsersEdit", this)),
      allowBox_(NamedBox("Allow", "allowBox", this)),
      multipleLoginsEdit_(NamedEdit("multipleLoginsEdit", this)),
      timeoutEdit_(NamedEdit("timeoutEdit", this)),
      loginMessageEdit_(NamedEdit("loginMessageEdit", this)),
      hideHiddenBox_(NamedBox("Hide Hidden Files and Directories in Directory Listing", "hideHiddenBox", this)),
      relativePathBox_(NamedBox("Show Relative Path", "showRelativePathBox", this)),
      tlsPolicyBox_(TlsPolicyBox(this)) {
    constexpr int kNumberWidth = 120;
    for (QLineEdit* number : {maxUsersEdit_, multipleLoginsEdit_, timeoutEdit_}) number->setMaximumWidth(kNumberWidth);
    auto* browse = new QPushButton("...", this);
    browse->setObjectName("loginMessageBrowse");
    browse->setFixedWidth(32);
    connect(browse, &QPushButton::clicked, this, [this] { BrowseLoginMessage(); });

    auto* logins = new QGroupBox("Login(s) from same IP", this);
    auto* loginsRow = new QHBoxLayout(logins);
    loginsRow->addWidget(allowBox_);
    loginsRow->addWidget(multipleLoginsEdit_);
    loginsRow->addStretch(1);

    auto* form = new QFormLayout;
    form->addRow(disableBox_);
    form->addRow("Maximum number of Users:", maxUsersEdit_);
    form->addRow(logins);
    QHBoxLayout* timeout = Row(timeoutEdit_, new QLabel("minutes", this));
    timeout->addStretch(1);
    form->addRow("Connection Timeout after:", timeout);
    form->addRow("Login Message File:", Row(loginMessageEdit_, browse));
    form->addRow("FTPS:", tlsPolicyBox_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(hideHiddenBox_);
    layout->addWidget(relativePathBox_);
    layout->addStretch(1);
}

void AccountMorePage::Load(const store::AccountValues& values) {
    disableBox_->setChecked(values.disableAccount);
    maxUsersEdit_->setText(FromStd(values.maxUsers));
    allowBox_->setChecked(values.allow);
    multipleLoginsEdit_->setText(FromStd(values.multipleLogins));
    timeoutEdit_->setText(FromStd(values.timeoutMinutes));
    loginMessageEdit_->setText(FromStd(values.loginMessage));
    hideHiddenBox_->setChecked(values.hideHidden);
    relativePathBox_->setChecked(values.showRelativePath);
    ShowTlsPolicy(FromStd(values.tlsPolicy));
}

// A value this editor does not know is kept as the file has it, in one item after the known
// ones that only the account shown may fill.
void AccountMorePage::ShowTlsPolicy(const QString& value) {
    const int known = static_cast<int>(std::size(kTlsPolicies));
    while (tlsPolicyBox_->count() > known) tlsPolicyBox_->removeItem(known);
    if (tlsPolicyBox_->findData(value) < 0) tlsPolicyBox_->addItem(value, value);
    tlsPolicyBox_->setCurrentIndex(tlsPolicyBox_->findData(value));
}

void AccountMorePage::Store(store::AccountValues& values) const {
    values.disableAccount = disableBox_->isChecked();
    values.maxUsers = ToStd(maxUsersEdit_->text().trimmed());
    values.allow = allowBox_->isChecked();
    values.multipleLogins = ToStd(multipleLoginsEdit_->text().trimmed());
    values.timeoutMinutes = ToStd(timeoutEdit_->text().trimmed());
    values.loginMessage = ToStd(loginMessageEdit_->text());
    values.hideHidden = hideHiddenBox_->isChecked();
    values.showRelativePath = relativePathBox_->isChecked();
    values.tlsPolicy = ToStd(tlsPolicyBox_->currentData().toString());
}

// These four are checked at USER against the member's own file; a group's values would never count.
void AccountMorePage::SetGroupMode(bool group) {
    for (QWidget* control : {static_cast<QWidget*>(disableBox_), static_cast<QWidget*>(maxUsersEdit_),
                             static_cast<QWidget*>(allowBox_), static_cast<QWidget*>(multipleLoginsEdit_)})
        control->setEnabled(!group);
}

void AccountMorePage::BrowseLoginMessage() {
    const QString file = prompts_.ChooseFile(loginMessageEdit_->text(), kTextFileFilter);
    if (!file.isEmpty()) loginMessageEdit_->setText(file);
}

}  // namespace tolvane::ui
