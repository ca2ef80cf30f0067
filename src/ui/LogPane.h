#pragma once

#include "monitor/ServerLog.h"

#include <QElapsedTimer>
#include <QTextEdit>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>

namespace tolvane::ui {

// The server log window: a read-only rich-text pane that follows the server log. Records
// arrive on the appending threads and are queued; the window thread applies them in order,
// one batch per wake-up, so a worker never waits for the window.
class LogPane : public QTextEdit {
    Q_OBJECT

public:
    // Counted for the start-up banner when the pane is created and after ClearAll.
    static constexpr int kStartLineCount = 5;
    // Once the line count reaches this, every further line removes the oldest one.
    static constexpr int kLineCountLimit = 50;

    LogPane(monitor::ServerLog& log, std::filesystem::path settingsFile, QWidget* parent = nullptr);
    ~LogPane() override;

    LogPane(const LogPane&) = delete;
    LogPane& operator=(const LogPane&) = delete;

    // The whole text as plain text on the clipboard.
    void CopyAll();
    // Empties the pane, drops what is still queued, and counts the banner again.
    void ClearAll();
    // Time-stamped lines counted so far, from kStartLineCount up to kLineCountLimit.
    int LineCount() const { return lineCount_; }

    // Shows only the records that match, the newest of the log first: a connection number
    // ("12" or "#12"), else any text without regard to case, or a line of one of `connections`
    // (the numbers of the sessions of a user the filter names).
    void SetFilter(const QString& filter, const QStringList& connections = {});
    static bool Matches(const monitor::LogRecord& record, const QString& filter, const QStringList& connections = {});
    // While paused the pane keeps its place instead of following the newest line.
    void SetPaused(bool paused) { paused_ = paused; }

    // Colour of a COLORREF value (0x00BBGGRR).
    static QColor ColourOf(std::uint32_t colorref);

private:
    // Runs on the window thread, woken by the subscriber.
    Q_INVOKABLE void ApplyPending();
    void Queue(const monitor::LogRecord& record);
    void Insert(QTextCursor& cursor, const monitor::LogRecord& record, const QColor& colour);
    void RemoveFirstLines(int count);

    monitor::ServerLog& log_;
    const std::filesystem::path settingsFile_;
    int subscription_ = 0;
    int lineCount_ = kStartLineCount;
    QString filter_;
    QStringList filterConnections_;
    bool paused_ = false;
    QTimer applyTimer_;
    QElapsedTimer sinceApply_;

    // Shared with the appending threads.
    std::mutex queueMutex_;
    std::deque<monitor::LogRecord> queue_;
    bool wakeUpPosted_ = false;
    // Records dropped from a queue the window could not keep up with; they would have been
    // scrolled out before being seen.
    int droppedStamped_ = 0;
    int droppedLines_ = 0;
};

}  // namespace tolvane::ui
