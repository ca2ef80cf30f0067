#include "ui/ServerVariablesDialog.h"

#include "server/Server.h"

#include "ui/MonitorPane.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tolvane::ui {

ServerVariablesDialog::ServerVariablesDialog(server::Server& server, QWidget* parent)
    : QDialog(parent), server_(server) {
    setObjectName("serverVariablesDialog");
    setWindowTitle("Winsock2_API_Socket Debugging Window");

    list_ = new QTreeWidget;
    list_->setObjectName("variablesList");
    list_->setHeaderLabels({"Variable", "Value", "Description"});
    for (int column = 0; column < 3; ++column) list_->setColumnWidth(column, DialogUnitsToPixels(*list_, 100));
    list_->setRootIsDecorated(false);
    list_->setAllColumnsShowFocus(true);

    noIpHome_ = new QLabel("No Server IP Home is being served.");
    noIpHome_->setObjectName("noIpHomeLabel");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("okButton");
    buttons->button(QDialogButtonBox::Close)->setObjectName("closeButton");
    // OK shows the figures again; only Close ends the window.
    connect(buttons->button(QDialogButtonBox::Ok), &QPushButton::clicked, this, &ServerVariablesDialog::Refill);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(noIpHome_);
    layout->addWidget(list_);
    layout->addWidget(buttons);
    resize(640, 240);
    Refill();
}

void ServerVariablesDialog::Refill() {
    const auto ipHomes = server_.ServedIpHomes();
    const auto ipHome = ipHomes.empty() ? nullptr : ipHomes.front();
    const auto number = [&](auto value) { return ipHome ? QString::number(value) : QString("-"); };
    struct Line {
        const char* variable;
        QString value;
        const char* description;
    };
    const Line lines[] = {
        {"Maximum Transfers", number(ipHome ? ipHome->transferLimit : 0),
         "Maximum Number of transfers set in Server IP Home settings"},
        {"Current Transfers", number(ipHome ? ipHome->runningTransfers.load() : 0), "Current Number of active transfers"},
        {"Maximum Users", number(ipHome ? ipHome->userLimit : 0), "Maximum Number of users set in Server IP Home settings"},
        {"Current Users", number(ipHome ? ipHome->usersLoggedIn.load() : 0), "Current Number of active users"},
        {"STORE_overwrite ?", ipHome ? QString(ipHome->overwriteAllowed ? "TRUE" : "FALSE") : QString("-"),
         "Value of the STORE_overwrite variable"},
    };
    list_->clear();
    for (const auto& line : lines) {
        auto* item = new QTreeWidgetItem(QStringList{line.variable, line.value, line.description});
        item->setToolTip(2, line.description);
        list_->addTopLevelItem(item);
    }
    noIpHome_->setVisible(!ipHome);
}

}  // namespace tolvane::ui
