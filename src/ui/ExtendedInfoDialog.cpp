#include "ui/ExtendedInfoDialog.h"

#include "ui/MonitorPane.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace {

enum Row { CurrentLocation, Credit, Uploaded, Downloaded, IdleTime };

}  // namespace

ExtendedInfoDialog::ExtendedInfoDialog(std::weak_ptr<monitor::SessionHandle> connection, QWidget* parent)
    : QDialog(parent), connection_(std::move(connection)) {
    setObjectName("extendedInfoDialog");
    setWindowTitle("Extended Info");
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    list_ = new QTreeWidget;
    list_->setObjectName("extendedInfoList");
    list_->setHeaderLabels({"Description", "Value"});
    list_->setColumnWidth(0, DialogUnitsToPixels(*list_, 120));
    list_->setColumnWidth(1, DialogUnitsToPixels(*list_, 160));
    list_->setRootIsDecorated(false);
    list_->setAllColumnsShowFocus(true);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (const char* name : {"Current Location", "Credit", "Uploaded", "Downloaded", "Idle Time"})
        list_->addTopLevelItem(new QTreeWidgetItem(QStringList{name, QString()}));

    auto* close = new QPushButton("Close");
    close->setObjectName("closeButton");
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    resize(340, 200);

    connect(&refreshTimer_, &QTimer::timeout, this, &ExtendedInfoDialog::Refresh);
    refreshTimer_.start(kRefreshIntervalMs);
    Fill();
}

void ExtendedInfoDialog::Refresh() {
    if (Fill()) return;
    refreshTimer_.stop();
    close();
}

bool ExtendedInfoDialog::Fill() {
    const auto connection = connection_.lock();
    if (!connection || !connection->Live()) return false;
    const auto set = [this](Row row, const QString& text) {
        if (list_->topLevelItem(row)->text(1) != text) list_->topLevelItem(row)->setText(1, text);
    };
    set(CurrentLocation, QString::fromStdString(connection->CurrentDirectory()));
    set(Credit, QString::asprintf("Credit : %lld bytes", static_cast<long long>(connection->Credit())));
    set(Uploaded, QString::asprintf("Uploaded : %.1f kb - in %i files", connection->UploadedBytes() / 1024.0,
                                    connection->UploadedFiles()));
    set(Downloaded, QString::asprintf("Downloaded : %.1f kb - in %i files", connection->DownloadedBytes() / 1024.0,
                                      connection->DownloadedFiles()));
    set(IdleTime, QString::asprintf("%i", connection->IdleSeconds()));
    return true;
}

}  // namespace tolvane::ui
