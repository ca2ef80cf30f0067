#include "ui/SendProgressDialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tolvane::ui {
namespace {

constexpr int kPollMilliseconds = 100;

}  // namespace

void SendProgressDialog::Progress::Report(const std::string& status, int percent) {
    const std::lock_guard lock(mutex_);
    status_ = status;
    percent_ = percent;
}

std::pair<std::string, int> SendProgressDialog::Progress::Read() const {
    const std::lock_guard lock(mutex_);
    return {status_, percent_};
}

SendProgressDialog::SendProgressDialog(const store::FeedbackEndpoints& endpoints, const clients::FeedbackForm& form,
                                       QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Sending Message");
    auto* layout = new QVBoxLayout(this);
    status_ = new QLabel(this);
    status_->setMinimumWidth(280);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    button_ = new QPushButton("Cancel", this);
    layout->addWidget(status_);
    layout->addWidget(bar_);
    layout->addWidget(button_, 0, Qt::AlignHCenter);
    connect(button_, &QPushButton::clicked, this, &SendProgressDialog::OnButton);
    connect(&pollTimer_, &QTimer::timeout, this, &SendProgressDialog::Refresh);
    pollTimer_.start(kPollMilliseconds);
    clients::WaitLimits limits;
    limits.cancel = &cancel_;
    sender_ = std::thread([this, endpoints, form, limits] {
        clients::SendFeedback(endpoints, form, progress_, limits);
        finished_.store(true);
    });
}

SendProgressDialog::~SendProgressDialog() {
    cancel_.store(true);
    if (sender_.joinable()) sender_.join();
}

QString SendProgressDialog::Status() const { return status_->text(); }

int SendProgressDialog::Percent() const { return bar_->value(); }

void SendProgressDialog::Refresh() {
    const auto [status, percent] = progress_.Read();
    status_->setText(QString::fromStdString(status));
    bar_->setValue(percent);
    if (!finished_.load()) return;
    pollTimer_.stop();
    sender_.join();
    button_->setText("Close");
    button_->setEnabled(true);
}

void SendProgressDialog::OnButton() {
    if (finished_.load() && !sender_.joinable()) {
        accept();
        return;
    }
    cancel_.store(true);
    button_->setEnabled(false);
}

// Escape and the window's close button cancel while the exchange runs, and close afterwards.
void SendProgressDialog::reject() {
    if (finished_.load() && !sender_.joinable()) {
        QDialog::reject();
        return;
    }
    OnButton();
}

}  // namespace tolvane::ui
