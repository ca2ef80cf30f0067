#pragma once

#include "store/ProgramSettings.h"

#include <QDialog>

#include <array>
#include <filesystem>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeWidget;

namespace tolvane::server {
class Server;
}

namespace tolvane::ui {

class ColourList;

// The FTP Server Settings dialog: edits the program settings of the server's home. Confirming
// it writes the settings, takes over the welcome file at once and, when the port changed,
// rebuilds the listening sockets.
class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    SettingsDialog(server::Server& server, QWidget* parent = nullptr);

    // The confirmation; a refused value keeps the dialog open.
    void accept() override;

protected:
    // Tells the user something (a refusal, the autostart result); a message box unless replaced.
    virtual void ShowMessage(const QString& text);

private:
    QWidget* BuildServerTab();
    QWidget* BuildColoursTab();
    QWidget* BuildLanguageTab();
    void Load();
    void LoadServerTab(const store::ProgramSettings& settings);
    void LoadLanguageTab(const store::ProgramSettings& settings);
    void LoadColoursTab(const store::ProgramSettings& settings);
    // The confirmation's writes and actions in their order; false when a value is refused.
    bool Save();
    void SaveColours();
    void SaveLanguage();
    void ChangeRunAtSystemStart(bool on);
    void BrowseWelcomeFile();

    server::Server& server_;
    const std::filesystem::path settingsFile_;
    int portAtOpening_ = 0;
    bool runAsSystemServiceAtOpening_ = false;

    QLineEdit* serverPortEdit_ = nullptr;
    QLineEdit* maximumUserEdit_ = nullptr;
    QLineEdit* maximumTransfersEdit_ = nullptr;
    QLineEdit* welcomeMsgEdit_ = nullptr;
    QCheckBox* startAsTrayIconBox_ = nullptr;
    QCheckBox* runAsSystemServiceBox_ = nullptr;
    QCheckBox* onlineAtStartupBox_ = nullptr;
    std::array<ColourList*, store::kLogColourKindCount> colourLists_{};
    QTreeWidget* languageList_ = nullptr;
    QLabel* currentLanguageLabel_ = nullptr;
};

}  // namespace tolvane::ui
