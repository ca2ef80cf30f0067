#include "ui/SettingsDialog.h"

#include "store/ProfileFile.h"
#include "server/Server.h"
#include "ui/ColourList.h"
#include "ui/Language.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace fs = std::filesystem;
namespace {

using store::LogColourKind;

struct ColourRow {
    LogColourKind kind;
    const char* label;
    const char* objectName;
};

// The tab's rows, top to bottom.
constexpr std::array<ColourRow, store::kLogColourKindCount> kColourRows{{
    {LogColourKind::Background, QT_TRANSLATE_NOOP("tolvane::ui::SettingsDialog", "Background:"),
     "backgroundColourList"},
    {LogColourKind::SystemMessages, QT_TRANSLATE_NOOP("tolvane::ui::SettingsDialog", "System messages:"),
     "systemMessagesColourList"},
    {LogColourKind::ServerReplies, QT_TRANSLATE_NOOP("tolvane::ui::SettingsDialog", "Server replies:"),
     "serverRepliesColourList"},
    {LogColourKind::RemoteCommands, QT_TRANSLATE_NOOP("tolvane::ui::SettingsDialog", "Remote commands:"),
     "remoteCommandsColourList"},
    {LogColourKind::ErrorMessages, QT_TRANSLATE_NOOP("tolvane::ui::SettingsDialog", "Error messages:"),
     "errorMessagesColourList"},
}};

constexpr int kFileColumnWidth = 160;
constexpr int kLanguageColumnWidth = 80;

QString FromStd(const std::string& text) { return QString::fromStdString(text); }

// A limit of -1 (none) shows as an empty field.
QString LimitText(int limit) { return limit == -1 ? QString() : QString::number(limit); }

// The field's decimal value as the settings store numbers: leading digits, 0 when there are none.
int DecimalValue(const QString& text) { return store::ParseProfileInt(text.toStdString()); }

int LimitValue(const QString& text) { return text.trimmed().isEmpty() ? -1 : DecimalValue(text); }

QLineEdit* NamedEdit(const char* objectName, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    return edit;
}

QCheckBox* NamedBox(const QString& text, const char* objectName, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(objectName);
    return box;
}

}  // namespace

SettingsDialog::SettingsDialog(server::Server& server, QWidget* parent)
    : QDialog(parent), server_(server), settingsFile_(server.Shared().SettingsFile()) {
    setWindowTitle(tr("FTP Server Settings"));
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName("settingsTabs");
    tabs->addTab(BuildServerTab(), tr("Server"));
    tabs->addTab(BuildColoursTab(), tr("Logging Colors"));
    tabs->addTab(BuildLanguageTab(), tr("Language"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    Load();
}

// The port, the two limits and the welcome file are loaded and saved but not shown.
QWidget* SettingsDialog::BuildServerTab() {
    auto* tab = new QWidget;
    auto* hidden = new QWidget(tab);
    hidden->setObjectName("hiddenServerFields");
    serverPortEdit_ = NamedEdit("serverPortEdit", hidden);
    maximumUserEdit_ = NamedEdit("maximumUserEdit", hidden);
    maximumTransfersEdit_ = NamedEdit("maximumTransfersEdit", hidden);
    welcomeMsgEdit_ = NamedEdit("welcomeMsgEdit", hidden);
    auto* browse = new QPushButton(QStringLiteral("..."), hidden);
    browse->setObjectName("welcomeMsgBrowseButton");
    connect(browse, &QPushButton::clicked, this, &SettingsDialog::BrowseWelcomeFile);
    auto* fields = new QGridLayout(hidden);
    fields->addWidget(new QLabel(tr("Server port:"), hidden), 0, 0);
    fields->addWidget(serverPortEdit_, 0, 1, 1, 2);
    fields->addWidget(new QLabel(tr("Maximum users:"), hidden), 1, 0);
    fields->addWidget(maximumUserEdit_, 1, 1, 1, 2);
    fields->addWidget(new QLabel(tr("Maximum transfers:"), hidden), 2, 0);
    fields->addWidget(maximumTransfersEdit_, 2, 1, 1, 2);
    fields->addWidget(new QLabel(tr("Welcome message:"), hidden), 3, 0);
    fields->addWidget(welcomeMsgEdit_, 3, 1);
    fields->addWidget(browse, 3, 2);
    hidden->hide();

    auto* main = new QGroupBox(tr(" Main "), tab);
    main->setObjectName("mainGroup");
    startAsTrayIconBox_ = NamedBox(tr("Start as tray icon"), "startAsTrayIconBox", main);
    runAsSystemServiceBox_ = NamedBox(tr("Run as system service"), "runAsSystemServiceBox", main);
    runAsSystemServiceBox_->setEnabled(false);
    onlineAtStartupBox_ = NamedBox(tr("Online at startup"), "onlineAtStartupBox", main);
    auto* boxes = new QVBoxLayout(main);
    boxes->addWidget(startAsTrayIconBox_);
    boxes->addWidget(runAsSystemServiceBox_);
    boxes->addWidget(onlineAtStartupBox_);

    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(hidden);
    layout->addWidget(main);
    layout->addStretch();
    return tab;
}

QWidget* SettingsDialog::BuildColoursTab() {
    auto* tab = new QWidget;
    auto* layout = new QFormLayout(tab);
    for (const ColourRow& row : kColourRows) {
        auto* list = new ColourList(tab);
        list->setObjectName(row.objectName);
        colourLists_[static_cast<std::size_t>(row.kind)] = list;
        layout->addRow(tr(row.label), list);
    }
    return tab;
}

QWidget* SettingsDialog::BuildLanguageTab() {
    auto* tab = new QWidget;
    languageList_ = new QTreeWidget(tab);
    languageList_->setObjectName("languageList");
    languageList_->setColumnCount(2);
    languageList_->setHeaderLabels({tr("File"), tr("Language")});
    languageList_->setColumnWidth(0, kFileColumnWidth);
    languageList_->setColumnWidth(1, kLanguageColumnWidth);
    languageList_->setRootIsDecorated(false);
    languageList_->setSelectionMode(QAbstractItemView::SingleSelection);
    languageList_->setSelectionBehavior(QAbstractItemView::SelectRows);

    currentLanguageLabel_ = new QLabel(tab);
    currentLanguageLabel_->setObjectName("currentLanguageLabel");
    auto* current = new QHBoxLayout;
    current->addWidget(new QLabel(tr("Current DLL:"), tab));
    current->addWidget(currentLanguageLabel_, 1);

    auto* restart = new QLabel(tr("This option requires a restart."), tab);
    restart->setObjectName("restartNote");
    QPalette red = restart->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    restart->setPalette(red);

    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(languageList_);
    layout->addLayout(current);
    layout->addWidget(restart);
    return tab;
}

void SettingsDialog::Load() {
    const store::ProgramSettings settings = store::ReadProgramSettings(settingsFile_);
    LoadServerTab(settings);
    LoadLanguageTab(settings);
    LoadColoursTab(settings);
}

void SettingsDialog::LoadServerTab(const store::ProgramSettings& settings) {
    portAtOpening_ = settings.serverPort;
    serverPortEdit_->setText(QString::number(settings.serverPort));
    maximumUserEdit_->setText(LimitText(settings.maximumUser));
    maximumTransfersEdit_->setText(LimitText(settings.maximumTransfers));
    welcomeMsgEdit_->setText(FromStd(settings.welcomeMsg));
    startAsTrayIconBox_->setChecked(settings.startAsTrayIcon == 1);
    // Remembered as the box shows it, so that a stored value other than 0 or 1 alone never
    // counts as a change.
    runAsSystemServiceAtOpening_ = settings.runAsSystemService == 1;
    runAsSystemServiceBox_->setChecked(runAsSystemServiceAtOpening_);
    onlineAtStartupBox_->setChecked(settings.onlineAtStartup == 1);
}

// Files are inserted at the top one by one, in name order, so the list ends in reverse order.
void SettingsDialog::LoadLanguageTab(const store::ProgramSettings& settings) {
    for (const std::string& title : LanguageFileTitles(server_.Home())) {
        languageList_->insertTopLevelItem(0, new QTreeWidgetItem({FromStd(title), LanguageOfTitle(title)}));
    }
    currentLanguageLabel_->setText(FromStd(settings.languageSelection) + QLatin1String(kLanguageFileExtension));
}

void SettingsDialog::LoadColoursTab(const store::ProgramSettings& settings) {
    for (const store::LogColourKeys& keys : store::kLogColourKeys) {
        colourLists_[static_cast<std::size_t>(keys.kind)]->Select(settings.ColourOf(keys.kind));
    }
}

void SettingsDialog::accept() {
    if (Save()) QDialog::accept();
}

bool SettingsDialog::Save() {
    const int port = DecimalValue(serverPortEdit_->text());
    store::WriteSetting(settingsFile_, store::kServerPortKey, port);
    const QString maximumUser = maximumUserEdit_->text();
    if (!maximumUser.trimmed().isEmpty() && DecimalValue(maximumUser) == 0) {
        ShowMessage(tr("Value for Maximum Users is not valid."));
        return false;
    }
    store::WriteSetting(settingsFile_, store::kStartAsTrayIconKey, startAsTrayIconBox_->isChecked() ? 1 : 0);
    store::WriteSetting(settingsFile_, store::kMaximumUserKey, LimitValue(maximumUser));
    store::WriteSetting(settingsFile_, store::kMaximumTransfersKey, LimitValue(maximumTransfersEdit_->text()));
    const std::string welcomeFile = welcomeMsgEdit_->text().toStdString();
    store::WriteSetting(settingsFile_, store::kWelcomeMsgKey, welcomeFile);
    server_.Shared().SetWelcomeFile(welcomeFile);
    if (port != portAtOpening_) server_.CreateServerSockets();
    const bool runAsSystemService = runAsSystemServiceBox_->isChecked();
    if (runAsSystemService != runAsSystemServiceAtOpening_) ChangeRunAtSystemStart(runAsSystemService);
    store::WriteSetting(settingsFile_, store::kRunAsSystemServiceKey, runAsSystemService ? 1 : 0);
    store::WriteSetting(settingsFile_, store::kOnlineAtStartupKey, onlineAtStartupBox_->isChecked() ? 1 : 0);
    SaveColours();
    SaveLanguage();
    return true;
}

void SettingsDialog::SaveColours() {
    for (const store::LogColourKeys& keys : store::kLogColourKeys) {
        store::WriteColourSetting(settingsFile_, keys.kind,
                                  colourLists_[static_cast<std::size_t>(keys.kind)]->Selected());
    }
}

// Takes effect at the next start.
void SettingsDialog::SaveLanguage() {
    const QTreeWidgetItem* row = languageList_->currentItem();
    if (row == nullptr || !row->isSelected()) return;
    store::WriteSetting(settingsFile_, store::kLanguageSelectionKey, row->text(0).toStdString());
}

void SettingsDialog::ChangeRunAtSystemStart(bool on) {
    const fs::path program(QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString());
    const bool done = store::SetRunAtSystemStart(on, program);
    if (on) ShowMessage(done ? tr("Setting Service was successfully") : tr("Failed"));
}

void SettingsDialog::BrowseWelcomeFile() {
    const QString chosen = QFileDialog::getOpenFileName(this, tr("Welcome message"),
                                                        QFileInfo(welcomeMsgEdit_->text()).absolutePath());
    if (!chosen.isEmpty()) welcomeMsgEdit_->setText(chosen);
}

void SettingsDialog::ShowMessage(const QString& text) {
    QMessageBox::information(this, windowTitle(), text);
}

}  // namespace tolvane::ui
