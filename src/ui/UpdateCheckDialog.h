#pragma once

#include "clients/UpdateCheckState.h"

#include <QDialog>
#include <QTimer>

#include <filesystem>
#include <memory>

class QGridLayout;
class QLabel;
class QTextEdit;

namespace tolvane::clients {
class UpdateCheckSocket;
}

namespace tolvane::ui {

// "Update Check": the installed version, build and date beside the latest ones, fetched from
// the update host's version file. It shows both and leaves the comparison to the reader.
class UpdateCheckDialog : public QDialog {
    Q_OBJECT

public:
    // The program file gives the installed date.
    UpdateCheckDialog(std::filesystem::path settingsFile, std::filesystem::path programFile,
                      QWidget* parent = nullptr);
    ~UpdateCheckDialog() override;

    QString Status() const;
    QString InstalledVersion() const;
    QString InstalledBuild() const;
    QString InstalledDate() const;
    QString LatestVersion() const;
    QString LatestBuild() const;
    QString LatestDate() const;
    QString Description() const;

private:
    void StartCheck();
    void Refresh();
    QLabel* AddValue(QGridLayout* grid, int row, int column, const QString& caption);

    const std::filesystem::path settingsFile_;
    QLabel* status_ = nullptr;
    QLabel* installedVersion_ = nullptr;
    QLabel* installedBuild_ = nullptr;
    QLabel* installedDate_ = nullptr;
    QLabel* latestVersion_ = nullptr;
    QLabel* latestBuild_ = nullptr;
    QLabel* latestDate_ = nullptr;
    QTextEdit* description_ = nullptr;
    // Timer 1 follows the check's progress; timer 2 shows its end at once.
    QTimer progressTimer_;
    QTimer finishTimer_;
    std::shared_ptr<clients::UpdateCheckState> state_;
    std::weak_ptr<clients::UpdateCheckSocket> socket_;
};

}  // namespace tolvane::ui
