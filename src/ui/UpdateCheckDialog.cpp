#include "ui/UpdateCheckDialog.h"

#include "clients/UpdateCheckSocket.h"
#include "store/ClientEndpoints.h"
#include "Version.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QTextEdit>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace {

constexpr const char* kInstalledVersion = TOLVANE_VERSION;
constexpr const char* kInstalledBuild = "15";
constexpr int kProgressMilliseconds = 750;
constexpr int kFinishMilliseconds = 100;

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

UpdateCheckDialog::UpdateCheckDialog(std::filesystem::path settingsFile, std::filesystem::path programFile,
                                     QWidget* parent)
    : QDialog(parent), settingsFile_(std::move(settingsFile)), state_(std::make_shared<clients::UpdateCheckState>()) {
    setWindowTitle("Update Check");
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(this);
    layout->addWidget(status_);
    auto* grid = new QGridLayout;
    installedVersion_ = AddValue(grid, 0, 0, "Installed Version");
    installedBuild_ = AddValue(grid, 1, 0, "Installed Build");
    installedDate_ = AddValue(grid, 2, 0, "Installed Date");
    latestVersion_ = AddValue(grid, 0, 2, "Latest Version");
    latestBuild_ = AddValue(grid, 1, 2, "Latest Build");
    latestDate_ = AddValue(grid, 2, 2, "Latest Date");
    layout->addLayout(grid);
    layout->addWidget(new QLabel("Description", this));
    description_ = new QTextEdit(this);
    description_->setReadOnly(true);
    layout->addWidget(description_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    installedVersion_->setText(kInstalledVersion);
    installedBuild_->setText(kInstalledBuild);
    installedDate_->setText(QFileInfo(QString::fromStdString(programFile.string())).lastModified().toString("dd/MM/yyyy"));
    connect(&progressTimer_, &QTimer::timeout, this, [this] {
        Refresh();
        if (state_->Done()) progressTimer_.stop();
    });
    connect(&finishTimer_, &QTimer::timeout, this, [this] {
        if (!state_->Done()) return;
        Refresh();
        finishTimer_.stop();
    });
    StartCheck();
}

UpdateCheckDialog::~UpdateCheckDialog() {
    if (const auto socket = socket_.lock()) socket->Close();
}

QLabel* UpdateCheckDialog::AddValue(QGridLayout* grid, int row, int column, const QString& caption) {
    grid->addWidget(new QLabel(caption, this), row, column);
    auto* value = new QLabel(this);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(value, row, column + 1);
    return value;
}

void UpdateCheckDialog::StartCheck() {
    const store::UpdateEndpoint endpoint = store::ReadUpdateEndpoint(settingsFile_);
    if (endpoint.host.empty()) {
        status_->setText("No update host is set: set Host in the [UpdateCheck] section of " +
                         Text(settingsFile_.string()) + ".");
        return;
    }
    socket_ = clients::UpdateCheckSocket::Start(state_, endpoint.host, endpoint.port);
    progressTimer_.start(kProgressMilliseconds);
    // The end shows within a tenth of a second; the window cannot be told from the check's thread.
    finishTimer_.start(kFinishMilliseconds);
    Refresh();
}

void UpdateCheckDialog::Refresh() {
    const auto values = state_->Read();
    status_->setText(Text(values.status));
    latestVersion_->setText(Text(values.latest.version));
    latestBuild_->setText(Text(values.latest.build));
    latestDate_->setText(Text(values.latest.date));
    description_->setPlainText(Text(values.latest.description).replace("\r\n", "\n"));
}

QString UpdateCheckDialog::Status() const { return status_->text(); }
QString UpdateCheckDialog::InstalledVersion() const { return installedVersion_->text(); }
QString UpdateCheckDialog::InstalledBuild() const { return installedBuild_->text(); }
QString UpdateCheckDialog::InstalledDate() const { return installedDate_->text(); }
QString UpdateCheckDialog::LatestVersion() const { return latestVersion_->text(); }
QString UpdateCheckDialog::LatestBuild() const { return latestBuild_->text(); }
QString UpdateCheckDialog::LatestDate() const { return latestDate_->text(); }
QString UpdateCheckDialog::Description() const { return description_->toPlainText(); }

}  // namespace tolvane::ui
