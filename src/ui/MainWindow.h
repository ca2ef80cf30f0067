#pragma once

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>

#include <filesystem>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace tolvane::server {
class Server;
}

namespace tolvane::control {
class AdministeredServer;
class Attachment;
}

namespace tolvane::ui {

class LogPane;
class MonitorPane;
class ThroughputChart;

// The administration window: the live monitor on the left, the server log on the right, and
// the commands that steer the server it hosts, or the tolvaned it has attached to.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    MainWindow(server::Server& server, bool onlineAtStartup, QWidget* parent = nullptr);
    // A window on a running tolvaned; closing it leaves the server running.
    explicit MainWindow(std::unique_ptr<control::Attachment> attachment, QWidget* parent = nullptr);
    ~MainWindow() override;

    control::AdministeredServer& Administered() const { return *administered_; }
    // The status bar's text: online state, sessions and transfers, the link when attached.
    QString StatusText() const;

    LogPane& Log() const { return *logPane_; }
    MonitorPane& Monitor() const { return *monitorPane_; }
    ThroughputChart& Chart() const { return *chart_; }
    QSystemTrayIcon* Tray() const { return tray_; }

public slots:
    void GoOnline();
    void GoOffline();
    void Shutdown();
    void OpenSettings();
    void OpenServerVariables();
    // File > Connect to Server...: asks where, attaches, and opens a window on it.
    void ConnectToServer();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Build();
    QWidget* BuildLogColumn(QWidget* parent);
    void FilterLog(const QString& filter);
    // The account editor on the hosted server's database, or on the attached server's through it.
    void EditAccounts();
    void BuildActions();
    void DisableHostedOnlyActions();
    void RefreshStatus();
    void BuildMenus();
    void BuildToolBar();
    void BuildTray();
    void StartTimers();
    void RefreshTitle();
    void DeferredStart();
    void AddTrayIcon();
    void OpenHomeFile(const std::filesystem::path& file);

    server::Server* const hosted_;             // null when attached
    control::Attachment* const attachment_ = nullptr;  // null when hosting
    std::unique_ptr<control::AdministeredServer> administered_;
    const bool onlineAtStartup_;
    QLabel* statusLabel_ = nullptr;
    LogPane* logPane_ = nullptr;
    MonitorPane* monitorPane_ = nullptr;
    ThroughputChart* chart_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QTimer titleTimer_;
    QTimer startTimer_;
    QTimer trayTimer_;
    int lastUserRows_ = 5;
    int lastTransferRows_ = 5;
    bool shuttingDown_ = false;

    QAction* connectAction_ = nullptr;
    QAction* disconnectAction_ = nullptr;
    QAction* onlineAction_ = nullptr;
    QAction* offlineAction_ = nullptr;
    QAction* copyAction_ = nullptr;
    QAction* clearAction_ = nullptr;
    QAction* shutdownAction_ = nullptr;
    QAction* settingsAction_ = nullptr;
    QAction* usersAction_ = nullptr;
    QAction* toolbarAction_ = nullptr;
    QAction* variablesAction_ = nullptr;
    QAction* helpAction_ = nullptr;
    QAction* historyAction_ = nullptr;
    QAction* bugAction_ = nullptr;
    QAction* updateAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
};

}  // namespace tolvane::ui
