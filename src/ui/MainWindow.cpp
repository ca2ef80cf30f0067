#include "ui/MainWindow.h"

#include "control/Attachment.h"
#include "control/DatabaseCopy.h"
#include "control/HostedServer.h"
#include "store/AccountDatabase.h"
#include "server/Server.h"
#include "ui/AttachDialog.h"
#include "ui/ContactDialog.h"
#include "ui/EditorPrompts.h"
#include "ui/LogPane.h"
#include "ui/MonitorPane.h"
#include "ui/ServerVariablesDialog.h"
#include "ui/SettingsDialog.h"
#include "ui/ThroughputChart.h"
#include "ui/UpdateCheckDialog.h"
#include "ui/UserDatabaseDialog.h"
#include "Version.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QToolBar>
#include <QUrl>

namespace tolvane::ui {
namespace {

constexpr int kTimerPeriodMs = 1000;

// The window's own dialogs that run on beside it and go when closed.
void ShowModeless(QDialog* dialog) {
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

}  // namespace

MainWindow::MainWindow(server::Server& server, bool onlineAtStartup, QWidget* parent)
    : QMainWindow(parent),
      hosted_(&server),
      administered_(std::make_unique<control::HostedServer>(server)),
      onlineAtStartup_(onlineAtStartup) {
    Build();
    setWindowTitle("Tolvane-D v" TOLVANE_VERSION " - Beta");
}

MainWindow::MainWindow(std::unique_ptr<control::Attachment> attachment, QWidget* parent)
    : QMainWindow(parent),
      hosted_(nullptr),
      attachment_(attachment.get()),
      administered_(std::move(attachment)),
      onlineAtStartup_(false) {
    Build();
    startTimer_.stop();
    trayTimer_.stop();
    DisableHostedOnlyActions();
    setWindowTitle(QString::fromStdString("Tolvane-D - " + administered_->Name()));
}

void MainWindow::Build() {
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    auto* left = new QSplitter(Qt::Vertical, splitter);
    monitorPane_ = new MonitorPane(*administered_, left);
    chart_ = new ThroughputChart(*administered_, left);
    left->setSizes({420, 140});
    splitter->addWidget(left);
    splitter->addWidget(BuildLogColumn(splitter));
    splitter->setSizes({500, 500});
    setCentralWidget(splitter);
    resize(1100, 600);
    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName("statusLabel");
    statusBar()->addWidget(statusLabel_);
    BuildActions();
    BuildMenus();
    BuildToolBar();
    if (hosted_) BuildTray();
    StartTimers();
    RefreshStatus();
}

void MainWindow::EditAccounts() {
    EditorPrompts prompts;
    if (hosted_) {
        UserDatabaseDialog dialog(store::DatabaseDir(hosted_->Home()), prompts, this);
        dialog.exec();
        return;
    }
    // Attached: a copy of the server's database is edited here and what changed goes back.
    const control::Answer fetched = attachment_->FetchDatabase();
    QTemporaryDir copy;
    const std::filesystem::path database = std::filesystem::path(copy.path().toStdString()) / "Database";
    if (!fetched.ok || !copy.isValid() || !control::WriteDatabase(fetched.text, database)) {
        QMessageBox::warning(this, "Users", "Cannot fetch the account database: " + QString::fromStdString(fetched.text));
        return;
    }
    UserDatabaseDialog dialog(database, prompts, this);
    dialog.exec();
    const std::string changes = control::DatabaseChanges(fetched.text, database);
    if (changes.empty()) return;
    const control::Answer stored = attachment_->PutDatabaseChanges(changes);
    if (!stored.ok)
        QMessageBox::warning(this, "Users", "The server did not take the changes: " + QString::fromStdString(stored.text));
}

// The log with its filter and the pause of its scrolling above it.
QWidget* MainWindow::BuildLogColumn(QWidget* parent) {
    auto* column = new QWidget(parent);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* controls = new QHBoxLayout;
    auto* filter = new QLineEdit(column);
    filter->setObjectName("logFilter");
    filter->setClearButtonEnabled(true);
    filter->setPlaceholderText("Filter: connection number, user or text");
    auto* pause = new QCheckBox("Pause scrolling", column);
    pause->setObjectName("logPause");
    controls->addWidget(filter);
    controls->addWidget(pause);
    layout->addLayout(controls);
    // An attached window has no settings file of the server's: the log's colours are the defaults.
    logPane_ = new LogPane(administered_->Log(), hosted_ ? hosted_->Shared().SettingsFile() : std::string(), column);
    layout->addWidget(logPane_);
    connect(filter, &QLineEdit::textChanged, this, &MainWindow::FilterLog);
    connect(pause, &QCheckBox::toggled, logPane_, &LogPane::SetPaused);
    return column;
}

// A user's name stands for the numbers of that user's sessions too.
void MainWindow::FilterLog(const QString& filter) {
    QStringList connections;
    const std::string name = filter.trimmed().toStdString();
    for (const monitor::MonitorRow& row : administered_->Registry().Connections().Rows()) {
        const auto& cells = row.cells;
        if (!name.empty() && cells.size() > monitor::ConnectionColumns::User &&
            QString::fromStdString(cells[monitor::ConnectionColumns::User]).compare(filter.trimmed(), Qt::CaseInsensitive) == 0)
            connections << QString::fromStdString(cells[monitor::ConnectionColumns::Id]);
    }
    logPane_->SetFilter(filter, connections);
}

// What only the server inside this process offers: its files, its settings, its shutdown.
void MainWindow::DisableHostedOnlyActions() {
    for (QAction* action : {shutdownAction_, settingsAction_, variablesAction_, helpAction_, historyAction_, bugAction_,
                            updateAction_})
        action->setEnabled(false);
    disconnectAction_->setEnabled(true);
}

// The panes follow the administered server's log and lists until they go: before it does.
MainWindow::~MainWindow() { delete takeCentralWidget(); }

void MainWindow::BuildActions() {
    const auto make = [this](const QString& text, QStyle::StandardPixmap icon, const QKeySequence& keys,
                             void (MainWindow::*slot)()) {
        auto* action = new QAction(style()->standardIcon(icon), text, this);
        if (!keys.isEmpty()) action->setShortcut(keys);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    connectAction_ = make("Connect to Server...", QStyle::SP_DriveNetIcon, {}, &MainWindow::ConnectToServer);
    connectAction_->setObjectName("connectAction");
    disconnectAction_ = new QAction("Disconnect", this);
    disconnectAction_->setEnabled(false);
    connect(disconnectAction_, &QAction::triggered, this, &QWidget::close);
    onlineAction_ = make("Online", QStyle::SP_MediaPlay, {}, &MainWindow::GoOnline);
    offlineAction_ = make("Offline", QStyle::SP_MediaStop, {}, &MainWindow::GoOffline);
    shutdownAction_ = make("Shutdown", QStyle::SP_DialogCloseButton, {}, &MainWindow::Shutdown);
    settingsAction_ = make("FTP-Server", QStyle::SP_FileDialogDetailedView, QKeySequence("Ctrl+S"), &MainWindow::OpenSettings);
    variablesAction_ = make("Server Variables", QStyle::SP_FileDialogInfoView, {}, &MainWindow::OpenServerVariables);
    copyAction_ = new QAction(style()->standardIcon(QStyle::SP_DialogSaveButton), "Copy", this);
    copyAction_->setShortcut(QKeySequence("Ctrl+C"));
    connect(copyAction_, &QAction::triggered, this, [this] { logPane_->CopyAll(); });
    clearAction_ = new QAction(style()->standardIcon(QStyle::SP_DialogResetButton), "Clear", this);
    clearAction_->setShortcut(QKeySequence("Ctrl+D"));
    connect(clearAction_, &QAction::triggered, this, [this] { logPane_->ClearAll(); });
    usersAction_ = new QAction(style()->standardIcon(QStyle::SP_DirHomeIcon), "Users", this);
    usersAction_->setShortcut(QKeySequence("Ctrl+U"));
    connect(usersAction_, &QAction::triggered, this, &MainWindow::EditAccounts);
    toolbarAction_ = new QAction("Toolbar", this);
    toolbarAction_->setCheckable(true);
    toolbarAction_->setChecked(true);
    toolbarAction_->setShortcut(QKeySequence("Ctrl+T"));
    helpAction_ = new QAction("Help", this);
    helpAction_->setShortcut(QKeySequence(Qt::Key_F1));
    connect(helpAction_, &QAction::triggered, this, [this] { OpenHomeFile(hosted_->Home() / "manual" / "index.htm"); });
    historyAction_ = new QAction("History", this);
    connect(historyAction_, &QAction::triggered, this, [this] { OpenHomeFile(hosted_->Home() / "History.txt"); });
    bugAction_ = new QAction("Report a Bug", this);
    connect(bugAction_, &QAction::triggered, this, [this] {
        ShowModeless(new ContactDialog(hosted_->Shared().SettingsFile(), this));
    });
    updateAction_ = new QAction("Update Check", this);
    connect(updateAction_, &QAction::triggered, this, [this] {
        ShowModeless(new UpdateCheckDialog(hosted_->Shared().SettingsFile(),
                                           QCoreApplication::applicationFilePath().toStdString(), this));
    });
    aboutAction_ = new QAction("About", this);
    aboutAction_->setShortcut(QKeySequence("Ctrl+A"));
    connect(aboutAction_, &QAction::triggered, this, [this] {
        QMessageBox::about(this, "About Tolvane-D",
                           "Tolvane-D v" TOLVANE_VERSION " - Beta\n\nAn FTP server for Linux with a live log, a live monitor "
                           "and an account database of plain profile files.");
    });
}

void MainWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction(connectAction_);
    file->addAction(disconnectAction_);
    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->addAction(copyAction_);
    edit->addAction(clearAction_);
    edit->addSeparator();
    edit->addAction(shutdownAction_);
    QMenu* setup = menuBar()->addMenu("&Setup");
    setup->addAction(settingsAction_);
    setup->addAction(usersAction_);
    QMenu* view = menuBar()->addMenu("&View");
    view->addAction(toolbarAction_);
    view->addAction(variablesAction_);
    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(helpAction_);
    help->addAction(historyAction_);
    help->addSeparator();
    help->addAction(bugAction_);
    help->addAction(updateAction_);
    help->addSeparator();
    help->addAction(aboutAction_);
}

void MainWindow::BuildToolBar() {
    toolBar_ = addToolBar("Toolbar");
    toolBar_->setObjectName("mainToolBar");
    toolBar_->addAction(onlineAction_);
    toolBar_->addAction(offlineAction_);
    toolBar_->addSeparator();
    toolBar_->addAction(copyAction_);
    toolBar_->addAction(clearAction_);
    toolBar_->addSeparator();
    toolBar_->addAction(usersAction_);
    connect(toolbarAction_, &QAction::toggled, toolBar_, &QToolBar::setVisible);
}

void MainWindow::BuildTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_DriveNetIcon), this);
    trayMenu_ = new QMenu(this);
    trayMenu_->addAction("Show Window", this, [this] {
        showNormal();
        raise();
        activateWindow();
    });
    trayMenu_->addAction("Hide Window", this, &QWidget::hide);
    trayMenu_->addSeparator();
    trayMenu_->addAction(onlineAction_);
    trayMenu_->addAction(offlineAction_);
    trayMenu_->addSeparator();
    trayMenu_->addAction(shutdownAction_);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) trayMenu_->actions().first()->trigger();
    });
}

void MainWindow::StartTimers() {
    titleTimer_.setInterval(kTimerPeriodMs);
    connect(&titleTimer_, &QTimer::timeout, this, &MainWindow::RefreshTitle);
    titleTimer_.start();
    startTimer_.setInterval(kTimerPeriodMs);
    connect(&startTimer_, &QTimer::timeout, this, &MainWindow::DeferredStart);
    startTimer_.start();
    trayTimer_.setInterval(kTimerPeriodMs);
    connect(&trayTimer_, &QTimer::timeout, this, &MainWindow::AddTrayIcon);
    trayTimer_.start();
}

void MainWindow::RefreshTitle() {
    RefreshStatus();
    if (!hosted_) return;
    auto& registry = administered_->Registry();
    const int users = static_cast<int>(registry.Connections().Count());
    const int transfers = static_cast<int>(registry.Transfers().Count());
    if (users == lastUserRows_ && transfers == lastTransferRows_) return;
    lastUserRows_ = users;
    lastTransferRows_ = transfers;
    setWindowTitle(QString("(%1,%2) - Tolvane-D v" TOLVANE_VERSION " - Beta").arg(users).arg(transfers));
    if (tray_ && tray_->isVisible()) tray_->setToolTip(QString("Tolvane-D (%1 Users,%2 Transfers)").arg(users).arg(transfers));
}

// About a second after start: the listening sockets, and online when the settings ask for it.
void MainWindow::DeferredStart() {
    startTimer_.stop();
    hosted_->CreateServerSockets();
    if (onlineAtStartup_) hosted_->GoOnline();
}

QString MainWindow::StatusText() const {
    auto& registry = administered_->Registry();
    QString text = QString("%1   Sessions: %2   Transfers: %3")
                       .arg(administered_->Online() ? "Online" : "Offline")
                       .arg(registry.Connections().Count())
                       .arg(registry.Transfers().Count());
    if (administered_->Attached())
        text += QString::fromStdString("   " + std::string(administered_->Linked() ? "Attached to " : "Link lost to ") +
                                       administered_->Name());
    return text;
}

void MainWindow::RefreshStatus() { statusLabel_->setText(StatusText()); }

void MainWindow::ConnectToServer() {
    AttachDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    auto attached = control::Attachment::Open(dialog.Target(), KnownServers::Asking(this));
    if (const auto* error = std::get_if<std::string>(&attached)) {
        QMessageBox::warning(this, "Connect to Server", QString::fromStdString(*error));
        return;
    }
    auto* window = new MainWindow(std::move(std::get<std::unique_ptr<control::Attachment>>(attached)));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

void MainWindow::AddTrayIcon() {
    if (tray_ == nullptr) {
        trayTimer_.stop();
        return;
    }
    tray_->setToolTip("Tolvame-D (0 User, 0 Transfer)");
    tray_->show();
    if (tray_->isVisible()) trayTimer_.stop();
}

void MainWindow::GoOnline() {
    if (startTimer_.isActive()) startTimer_.stop();
    administered_->GoOnline();
    RefreshStatus();
}

void MainWindow::GoOffline() {
    administered_->GoOffline();
    RefreshStatus();
}

void MainWindow::Shutdown() {
    if (!hosted_) return;
    shuttingDown_ = true;
    titleTimer_.stop();
    startTimer_.stop();
    trayTimer_.stop();
    hosted_->Shutdown();
    if (tray_) tray_->hide();
    close();
    QApplication::quit();
}

void MainWindow::OpenSettings() {
    if (!hosted_) return;
    SettingsDialog dialog(*hosted_, this);
    dialog.exec();
}

void MainWindow::OpenServerVariables() {
    if (!hosted_) return;
    ServerVariablesDialog dialog(*hosted_, this);
    dialog.exec();
}

// An attached window just closes. Closing the window only hides it while the tray can bring it back; without a tray it asks.
void MainWindow::closeEvent(QCloseEvent* event) {
    if (shuttingDown_ || !hosted_) {
        event->accept();
        return;
    }
    event->ignore();
    if (tray_ && tray_->isVisible()) {
        hide();
        return;
    }
    if (QMessageBox::question(this, "Tolvane-D", "There is no notification area to keep the server in.\nShut the server down?") ==
        QMessageBox::Yes)
        Shutdown();
}

void MainWindow::OpenHomeFile(const std::filesystem::path& file) {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(file.string()))))
        QMessageBox::information(this, "Tolvane-D", QString::fromStdString("Cannot open " + file.string()));
}

}  // namespace tolvane::ui
