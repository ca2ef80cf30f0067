#pragma once

#include "store/AccountDatabase.h"

#include <QString>
#include <QWidget>

class QCheckBox;
class QLineEdit;

namespace tolvane::ui {

// The "Server Settings" page of an IP home: its name, address, port, limits and flags, and
// what NAT routers, firewalls and load balancers in front of it need.
class ServerSettingsPage : public QWidget {
public:
    struct Fields {
        QString serverName;
        QString serverIp;
        QString serverPort;
        QString maxUsers;
        QString maxTransfers;
        bool disabled = false;
        bool storeOverwrite = false;
        QString passivePorts;  // "MIN-MAX" or empty
        QString passiveAddress;
        QString trustedProxies;
        bool ipv6Only = true;
    };

    explicit ServerSettingsPage(QWidget* parent);

    void Load(const store::IpHome& home);
    Fields Entered() const;

private:
    QLineEdit* nameEdit_;
    QLineEdit* ipEdit_;
    QLineEdit* portEdit_;
    QLineEdit* maxUsersEdit_;
    QLineEdit* maxTransfersEdit_;
    QCheckBox* disabledBox_;
    QCheckBox* overwriteBox_;
    QLineEdit* passivePortsEdit_;
    QLineEdit* passiveAddressEdit_;
    QLineEdit* trustedProxiesEdit_;
    QCheckBox* ipv6OnlyBox_;
};

}  // namespace tolvane::ui
