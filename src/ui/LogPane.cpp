#include "ui/LogPane.h"

#include "store/ProfileFile.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <string_view>
#include <utility>

namespace tolvane::ui {
namespace {

constexpr std::string_view kSection = "LoggingWindow";
constexpr std::uint32_t kHighlightColour = 0x0000FF;
// A window that cannot keep up loses the oldest queued records instead of growing without
// bound; far fewer than this ever stay visible.
constexpr std::size_t kMaxQueued = 4096;
// Bursts are applied at most this often, so the window keeps time for input and painting.
constexpr int kMinApplyIntervalMs = 20;

int LineFeeds(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

struct KindColours {
    QColor system, command, reply, error;

    static KindColours Read(const std::filesystem::path& settingsFile) {
        const auto profile = store::ProfileFile::Load(settingsFile);
        const auto read = [&](std::string_view key, std::uint32_t fallback) {
            return LogPane::ColourOf(static_cast<std::uint32_t>(profile.ReadInt(kSection, key, static_cast<int>(fallback))));
        };
        return {read("SystemMessagesColor", monitor::SystemMessage), read("RemoteCommandsColor", monitor::RemoteCommand),
                read("ServerRepliesColor", monitor::ServerReply), read("ErrorMessageColor", monitor::ErrorMessage)};
    }

    QColor Resolve(std::uint32_t kind) const {
        switch (kind) {
        case monitor::SystemMessage: return system;
        case monitor::RemoteCommand: return command;
        case monitor::ServerReply: return reply;
        case monitor::ErrorMessage: return error;
        default: return LogPane::ColourOf(kind);
        }
    }
};

}  // namespace

LogPane::LogPane(monitor::ServerLog& log, std::filesystem::path settingsFile, QWidget* parent)
    : QTextEdit(parent), log_(log), settingsFile_(std::move(settingsFile)) {
    setObjectName("logPane");
    setReadOnly(true);
    setUndoRedoEnabled(false);  // an undo history would keep every line ever shown
    setLineWrapMode(QTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(9);
    document()->setDefaultFont(font);
    QPalette colours = palette();
    colours.setColor(QPalette::Base,
                     ColourOf(static_cast<std::uint32_t>(store::ReadProfileInt(settingsFile_, kSection, "BackGroundColor", 0xFFFFFF))));
    setPalette(colours);

    applyTimer_.setSingleShot(true);
    connect(&applyTimer_, &QTimer::timeout, this, &LogPane::ApplyPending);
    sinceApply_.start();
    subscription_ = log_.Subscribe([this](const monitor::LogRecord& record) { Queue(record); });
}

LogPane::~LogPane() { log_.Unsubscribe(subscription_); }

QColor LogPane::ColourOf(std::uint32_t colorref) {
    return QColor(static_cast<int>(colorref & 0xFF), static_cast<int>((colorref >> 8) & 0xFF),
                  static_cast<int>((colorref >> 16) & 0xFF));
}

void LogPane::CopyAll() { QGuiApplication::clipboard()->setText(toPlainText()); }

void LogPane::ClearAll() {
    {
        std::lock_guard lock(queueMutex_);
        queue_.clear();
        droppedStamped_ = 0;
        droppedLines_ = 0;
    }
    clear();
    lineCount_ = kStartLineCount;
}

bool LogPane::Matches(const monitor::LogRecord& record, const QString& filter, const QStringList& connections) {
    if (filter.isEmpty()) return true;
    const QString number = filter.startsWith('#') ? filter.mid(1) : filter;
    bool isNumber = false;
    number.toUInt(&isNumber);
    const std::string line = record.stamp + record.text;
    const auto tagged = [&line](const QString& connection) {
        return line.find("-[" + connection.toStdString() + "]-") != std::string::npos;
    };
    if (isNumber) return tagged(number);
    return QString::fromStdString(line).contains(filter, Qt::CaseInsensitive) ||
           std::any_of(connections.begin(), connections.end(), tagged);
}

// The log is read before the queue is locked: its subscriber locks them the other way round.
void LogPane::SetFilter(const QString& filter, const QStringList& connections) {
    filter_ = filter.trimmed();
    filterConnections_ = connections;
    ClearAll();
    std::vector<monitor::LogRecord> records = log_.Records();
    std::erase_if(records,
                  [this](const monitor::LogRecord& record) { return !Matches(record, filter_, filterConnections_); });
    if (records.size() > static_cast<std::size_t>(kLineCountLimit))
        records.erase(records.begin(), records.end() - kLineCountLimit);
    std::lock_guard lock(queueMutex_);
    const std::uint64_t shown = records.empty() ? 0 : records.back().sequence;
    std::erase_if(queue_, [shown](const monitor::LogRecord& record) { return record.sequence <= shown; });
    queue_.insert(queue_.begin(), records.begin(), records.end());
    if (!wakeUpPosted_) {
        wakeUpPosted_ = true;
        QMetaObject::invokeMethod(this, "ApplyPending", Qt::QueuedConnection);
    }
}

// Runs on the appending thread with the log locked: only queue, never touch the widget.
void LogPane::Queue(const monitor::LogRecord& record) {
    std::lock_guard lock(queueMutex_);
    queue_.push_back(record);
    if (queue_.size() > kMaxQueued) {
        const auto& oldest = queue_.front();
        if (!oldest.raw) ++droppedStamped_;
        droppedLines_ += LineFeeds(oldest.text);
        queue_.pop_front();
    }
    if (!wakeUpPosted_) {
        wakeUpPosted_ = true;
        // By name: the call event is then made inside Qt, not from this thread's data.
        QMetaObject::invokeMethod(this, "ApplyPending", Qt::QueuedConnection);
    }
}

// Applies everything queued as if each record had been appended on its own: the line count
// and the lines the limit removes come out the same, but records that would be removed before
// the batch ends are never inserted.
void LogPane::ApplyPending() {
    if (sinceApply_.elapsed() < kMinApplyIntervalMs) {
        if (!applyTimer_.isActive()) applyTimer_.start(kMinApplyIntervalMs - static_cast<int>(sinceApply_.elapsed()));
        return;
    }
    std::deque<monitor::LogRecord> batch;
    int droppedStamped = 0;
    int droppedLines = 0;
    {
        std::lock_guard lock(queueMutex_);
        batch.swap(queue_);
        droppedStamped = std::exchange(droppedStamped_, 0);
        droppedLines = std::exchange(droppedLines_, 0);
        wakeUpPosted_ = false;
    }
    sinceApply_.restart();
    std::erase_if(batch,
                  [this](const monitor::LogRecord& record) { return !Matches(record, filter_, filterConnections_); });
    if (batch.empty() && droppedStamped == 0) return;

    int removals = 0;
    const auto countLine = [&] {
        // Past the limit every line removes one; the count need not grow further.
        if (lineCount_ < kLineCountLimit) ++lineCount_;
        if (lineCount_ >= kLineCountLimit) ++removals;
    };
    for (int i = 0; i < droppedStamped; ++i) countLine();
    for (const auto& record : batch) {
        if (!record.raw) countLine();
    }

    // The last block is the open line after the last line feed.
    const int completeLines = document()->blockCount() - 1;
    const int fromDocument = std::min(removals, completeLines);
    int remaining = removals - fromDocument;
    remaining -= std::min(remaining, droppedLines);
    std::size_t first = 0;
    while (first < batch.size() && remaining > 0) {
        const int lines = LineFeeds(batch[first].text);
        if (lines > remaining) break;
        remaining -= lines;
        ++first;
    }

    setUpdatesEnabled(false);
    RemoveFirstLines(fromDocument);
    if (removals > fromDocument) clear();  // an unterminated last line belongs to a removed line
    if (first < batch.size()) {
        const auto colours = KindColours::Read(settingsFile_);
        QTextCursor cursor(document());
        cursor.beginEditBlock();
        cursor.movePosition(QTextCursor::End);
        for (std::size_t i = first; i < batch.size(); ++i) {
            const auto& record = batch[i];
            Insert(cursor, record, record.raw ? ColourOf(record.kind) : colours.Resolve(record.kind));
        }
        cursor.endEditBlock();
    }
    RemoveFirstLines(remaining);
    if (!paused_) {
        QTextCursor end = textCursor();
        end.movePosition(QTextCursor::End);
        setTextCursor(end);  // also hides any selection
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
    setUpdatesEnabled(true);
}

void LogPane::Insert(QTextCursor& cursor, const monitor::LogRecord& record, const QColor& colour) {
    QTextCharFormat format;
    format.setForeground(colour);
    format.setFontWeight(record.bold ? QFont::Bold : QFont::Normal);
    format.setFontUnderline(record.underline);
    const std::string line = record.stamp + record.text;
    const std::size_t highlight = record.highlightOffset.value_or(line.size());
    cursor.insertText(QString::fromStdString(line.substr(0, std::min(highlight, line.size()))), format);
    if (highlight < line.size()) {
        QTextCharFormat red = format;
        red.setForeground(ColourOf(kHighlightColour));
        cursor.insertText(QString::fromStdString(line.substr(highlight)), red);
    }
}

// Deletes lines from the top, each through its line end.
void LogPane::RemoveFirstLines(int count) {
    count = std::min(count, document()->blockCount() - 1);
    if (count <= 0) return;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::Start);
    cursor.setPosition(document()->findBlockByNumber(count).position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

}  // namespace tolvane::ui
