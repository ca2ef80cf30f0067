#pragma once

#include <QDialog>

class QLabel;
class QTreeWidget;

namespace tolvane::store {
class Server;
}

namespace tolvane::ui {

// "Winsock2_API_Socket Debugging Window": the limits and live counters of the first served IP
// home. OK refills the list.
class ServerVariablesDialog : public QDialog {
    Q_OBJECT

public:
    explicit ServerVariablesDialog(store::Server& server, QWidget* parent = nullptr);

    void Refill();

private:
    store::Server& server_;
    QTreeWidget* list_ = nullptr;
    QLabel* noIpHome_ = nullptr;
};

}  // namespace tolvane::ui
