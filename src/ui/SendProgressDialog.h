#pragma once

#include "clients/FeedbackSender.h"

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;

namespace tolvane::ui {

// "Sending Message": runs the feedback exchange on a thread of its own and shows its steps.
// Cancel stops the exchange at once; when it has ended the button becomes Close. The window
// never waits for the network: it only polls what the thread reports.
class SendProgressDialog : public QDialog {
    Q_OBJECT

public:
    SendProgressDialog(const store::FeedbackEndpoints& endpoints, const clients::FeedbackForm& form,
                       QWidget* parent = nullptr);
    ~SendProgressDialog() override;

    QString Status() const;
    int Percent() const;
    QPushButton* Button() const { return button_; }
    bool Finished() const { return finished_.load(); }

    void reject() override;

private:
    class Progress : public clients::FeedbackProgress {
    public:
        void Report(const std::string& status, int percent) override;
        std::pair<std::string, int> Read() const;

    private:
        mutable std::mutex mutex_;
        std::string status_;
        int percent_ = 0;
    };

    void Refresh();
    void OnButton();

    QLabel* status_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* button_ = nullptr;
    QTimer pollTimer_;
    Progress progress_;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> finished_{false};
    std::thread sender_;
};

}  // namespace tolvane::ui
