#pragma once

#include <QDialog>

class QLabel;
class QTreeWidget;

namespace tolvane::server {
class Server;
}

namespace tolvane::ui {

// "Winsock2_API_Socket Debugging Window": the limits and live counters of the first served IP
// home. OK refills the list.
class ServerVariablesDialog : public QDialog {
    Q_OBJECT

public:
    explicit ServerVariablesDialog(server::Server& server, QWidget* parent = nullptr);

    void Refill();

private:
    server::Server& server_;
    QTreeWidget* list_ = nullptr;
    QLabel* noIpHome_ = nullptr;
};

}  // namespace tolvane::ui
