#include "ui/ServerSettingsPage.h"

#include "ui/AccountPage.h"

#include <QFormLayout>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace {

// -1 (no limit) shows as an empty field.
QString LimitText(int limit) { return limit == -1 ? QString() : QString::number(limit); }

}  // namespace

ServerSettingsPage::ServerSettingsPage(QWidget* parent)
    : QWidget(parent),
      nameEdit_(NamedEdit("serverNameEdit", this)),
      ipEdit_(NamedEdit("serverIpEdit", this)),
      portEdit_(NamedEdit("serverPortEdit", this)),
      maxUsersEdit_(NamedEdit("serverMaxUsersEdit", this)),
      maxTransfersEdit_(NamedEdit("serverMaxTransfersEdit", this)),
      disabledBox_(NamedBox("Disabled", "serverDisabledBox", this)),
      overwriteBox_(NamedBox("STORE command = Overwrite files", "storeOverwriteBox", this)),
      passivePortsEdit_(NamedEdit("passivePortsEdit", this)),
      passiveAddressEdit_(NamedEdit("passiveAddressEdit", this)),
      trustedProxiesEdit_(NamedEdit("trustedProxiesEdit", this)),
      ipv6OnlyBox_(NamedBox("IPv6 only (a home on :: takes no IPv4 clients)", "ipv6OnlyBox", this)) {
    passivePortsEdit_->setPlaceholderText("any, or MIN-MAX");
    passiveAddressEdit_->setPlaceholderText("the address the client reached");
    trustedProxiesEdit_->setPlaceholderText("none, or addresses separated by commas");
    auto* form = new QFormLayout;
    form->addRow("Server Name:", nameEdit_);
    form->addRow("Server IP:", ipEdit_);
    form->addRow("Port:", portEdit_);
    form->addRow("Maximum Users:", maxUsersEdit_);
    form->addRow("Maximum Transfers:", maxTransfersEdit_);
    form->addRow("Passive Ports:", passivePortsEdit_);
    form->addRow("Passive Address:", passiveAddressEdit_);
    form->addRow("Trusted Proxies:", trustedProxiesEdit_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(disabledBox_);
    layout->addWidget(overwriteBox_);
    layout->addWidget(ipv6OnlyBox_);
    layout->addStretch(1);
}

void ServerSettingsPage::Load(const store::IpHome& home) {
    nameEdit_->setText(FromStd(home.serverName));
    ipEdit_->setText(FromStd(home.serverIp));
    portEdit_->setText(FromStd(home.serverPort));
    maxUsersEdit_->setText(LimitText(home.maxUsers));
    maxTransfersEdit_->setText(LimitText(home.maxTransfers));
    disabledBox_->setChecked(home.disabled == 1);
    overwriteBox_->setChecked(home.storeOverwrite > 0);
    const auto ports = store::PassivePorts(home);
    passivePortsEdit_->setText(ports ? QString("%1-%2").arg(ports->first).arg(ports->second) : QString());
    passiveAddressEdit_->setText(FromStd(home.pasvAddress));
    trustedProxiesEdit_->setText(FromStd(home.trustedProxies));
    ipv6OnlyBox_->setChecked(home.ipv6Only != 0);
}

ServerSettingsPage::Fields ServerSettingsPage::Entered() const {
    return {nameEdit_->text(),
            ipEdit_->text().trimmed(),
            portEdit_->text().trimmed(),
            maxUsersEdit_->text().trimmed(),
            maxTransfersEdit_->text().trimmed(),
            disabledBox_->isChecked(),
            overwriteBox_->isChecked(),
            passivePortsEdit_->text().trimmed(),
            passiveAddressEdit_->text().trimmed(),
            trustedProxiesEdit_->text().trimmed(),
            ipv6OnlyBox_->isChecked()};
}

}  // namespace tolvane::ui
