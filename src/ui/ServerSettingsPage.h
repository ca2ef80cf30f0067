#pragma once

#include "store/AccountDatabase.h"

#include <QString>
#include <QWidget>

class QCheckBox;
class QLineEdit;

namespace tolvane::ui {

// The "Server Settings" page of an IP home: its name, address, port, limits and flags.
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
};

}  // namespace tolvane::ui
