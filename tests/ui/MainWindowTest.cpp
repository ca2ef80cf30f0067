#include "server/Server.h"
#include "ui/LogPane.h"
#include "ui/MainWindow.h"
#include "ui/UserDatabaseDialog.h"
#include "TempFolder.h"
#include "TestClient.h"
#include "TestHome.h"

#include <QAction>
#include <QApplication>
#include <QTreeWidget>
#include <QMenuBar>
#include <QToolBar>
#include <QtTest>

#include <memory>

using namespace tolvane;

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        home_ = std::make_unique<TempFolder>();
        port_ = testing::FreePort();
        testing::AddIpHomeWithUser(home_->path(), port_, "u");
        server_ = std::make_unique<server::Server>(home_->path());
        QVERIFY(!server_->InitDatabase());
        window_ = std::make_unique<ui::MainWindow>(*server_, true);
    }
    void cleanup() {
        window_.reset();
        server_->Shutdown();
        server_.reset();
        home_.reset();
    }

    void menusToolbarAndAccelerators() {
        QStringList menus;
        for (QAction* menu : window_->menuBar()->actions()) menus << menu->text();
        QCOMPARE(menus, QStringList({"&File", "&Edit", "&Setup", "&View", "&Help"}));
        QStringList file;
        for (QAction* action : window_->menuBar()->actions().at(0)->menu()->actions()) file << action->text();
        QCOMPARE(file, QStringList({"Connect to Server...", "Disconnect"}));
        QStringList edit;
        for (QAction* action : window_->menuBar()->actions().at(1)->menu()->actions())
            if (!action->isSeparator()) edit << action->text() + "|" + action->shortcut().toString();
        QCOMPARE(edit, QStringList({"Copy|Ctrl+C", "Clear|Ctrl+D", "Shutdown|"}));
        QStringList tools;
        for (QAction* action : window_->findChild<QToolBar*>("mainToolBar")->actions())
            tools << (action->isSeparator() ? "|" : action->text());
        QCOMPARE(tools, QStringList({"Online", "Offline", "|", "Copy", "Clear", "|", "Users"}));
    }

    // Setup > Users and the toolbar's button open the account editor on the server's database.
    void usersCommandOpensTheAccountEditor() {
        QAction* users = window_->findChild<QToolBar*>("mainToolBar")->actions().last();
        QString opened;
        QTimer::singleShot(0, this, [&opened] {
            QWidget* modal = QApplication::activeModalWidget();
            auto* dialog = qobject_cast<ui::UserDatabaseDialog*>(modal);
            if (dialog) opened = dialog->Tree().topLevelItem(0)->text(0);
            if (modal) modal->close();
        });
        users->trigger();
        QCOMPARE(opened, QString("127.0.0.1-%1").arg(port_));
    }

    // The deferred start brings the sockets up and goes online; the title follows the counts.
    void deferredStartAndTitleCounts() {
        QTRY_VERIFY_WITH_TIMEOUT(server_->Shared().Online(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(window_->windowTitle(), QString("(0,0) - Tolvane-D v0.2 - Beta"), 3000);
        testing::TestClient client(port_);
        client.ReadReply();
        client.Send("USER u\r\nPASS pw\r\n");
        client.ReadReply();
        QVERIFY(client.ReadReply().starts_with("230 "));
        QTRY_COMPARE_WITH_TIMEOUT(window_->windowTitle(), QString("(1,0) - Tolvane-D v0.2 - Beta"), 3000);
    }

    void onlineAndOfflineCommandsLogTheirState() {
        QTRY_VERIFY_WITH_TIMEOUT(server_->Shared().Online(), 5000);
        window_->GoOnline();
        window_->GoOffline();
        window_->GoOffline();
        QStringList texts;
        for (const auto& record : server_->Shared().Log().Records()) texts << QString::fromStdString(record.text);
        QVERIFY(texts.contains(" - Server is already online ...\r\n"));
        QVERIFY(texts.contains(" - Server is offline ...\r\n"));
        QVERIFY(texts.contains(" - Server is already offline ...\r\n"));
        QVERIFY(!server_->Shared().Online());
    }

private:
    std::unique_ptr<TempFolder> home_;
    std::uint16_t port_ = 0;
    std::unique_ptr<server::Server> server_;
    std::unique_ptr<ui::MainWindow> window_;
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
