#include "monitor/TerminalLogPrinter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tolvane::monitor {

namespace {

constexpr std::string_view kResetStyle = "\x1b[0m";

// The four kinds use the basic palette, which every terminal has and themes keep readable;
// remote commands stay in the terminal's own colour, dark blue being unreadable on dark
// backgrounds. Literal colours need 24-bit support.
std::string ColourCode(std::uint32_t colour) {
    switch (colour) {
    case SystemMessage: return "34";
    case RemoteCommand: return "39";
    case ServerReply: return "32";
    case ErrorMessage: return "31";
    default:
        return "38;2;" + std::to_string(colour & 0xFF) + ';' + std::to_string((colour >> 8) & 0xFF) + ';' +
               std::to_string((colour >> 16) & 0xFF);
    }
}

std::string Style(std::uint32_t colour, bool underline, bool bold) {
    return std::string("\x1b[0") + (bold ? ";1" : "") + (underline ? ";4" : "") + ';' + ColourCode(colour) + 'm';
}

std::string WithoutLineEnd(std::string line) {
    if (line.ends_with('\n')) {
        line.pop_back();
    }
    if (line.ends_with('\r')) {
        line.pop_back();
    }
    return line;
}

std::string WithNewlines(std::string_view text) {
    std::string converted;
    converted.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            converted += text[i];
        }
    }
    return converted;
}

std::string PlainLine(const LogRecord& record) {
    if (record.raw) {
        return WithNewlines(record.text);
    }
    return WithoutLineEnd(record.stamp + record.text) + '\n';
}

std::string ColouredLine(const LogRecord& record) {
    if (record.raw) {
        return Style(record.kind, record.underline, record.bold) + WithNewlines(record.text) +
               std::string(kResetStyle);
    }
    const std::string line = WithoutLineEnd(record.stamp + record.text);
    const std::size_t split = std::min(record.highlightOffset.value_or(line.size()), line.size());
    std::string coloured = Style(record.kind, record.underline, record.bold) + line.substr(0, split);
    if (split < line.size()) {
        coloured += Style(ErrorMessage, record.underline, record.bold) + line.substr(split);
    }
    return coloured.append(kResetStyle) + '\n';
}

// syslog priorities: err for errors, notice for the server's own messages, info for the dialogue.
int JournalPriority(std::uint32_t kind) {
    switch (kind) {
    case ErrorMessage: return 3;
    case RemoteCommand:
    case ServerReply: return 6;
    default: return 5;
    }
}

std::string JournalLines(const LogRecord& record) {
    const std::string prefix = '<' + std::to_string(JournalPriority(record.kind)) + '>';
    const std::string plain = PlainLine(record);
    std::string prefixed;
    for (std::size_t start = 0; start < plain.size();) {
        const std::size_t end = std::min(plain.find('\n', start), plain.size() - 1) + 1;
        prefixed += prefix + plain.substr(start, end - start);
        start = end;
    }
    if (!prefixed.empty() && prefixed.back() != '\n') prefixed += '\n';
    return prefixed;
}

bool IsJournalStream(std::FILE* out) {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat status {};
    if (stream == nullptr || out == nullptr || fstat(fileno(out), &status) != 0) return false;
    return std::to_string(status.st_dev) + ':' + std::to_string(status.st_ino) == stream;
}

}  // namespace

TerminalLogPrinter::TerminalLogPrinter(ServerLog& log, std::FILE* out, Style style)
    : log_(log), out_(out), style_(style),
      writer_([this] { WriteUntilStopped(); }),
      subscription_(log.Subscribe([this](const LogRecord& record) { Print(record); })) {}

TerminalLogPrinter::~TerminalLogPrinter() {
    log_.Unsubscribe(subscription_);
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    pendingSet_.notify_one();
    pendingDrained_.notify_all();
    writer_.join();
}

bool TerminalLogPrinter::WantsColours(std::FILE* out) {
    return out != nullptr && isatty(fileno(out)) == 1;
}

TerminalLogPrinter::Style TerminalLogPrinter::StyleFor(std::FILE* out) {
    if (IsJournalStream(out)) return Style::JournalPriorities;
    return WantsColours(out) ? Style::Colours : Style::Plain;
}

void TerminalLogPrinter::Print(const LogRecord& record) {
    const std::string line = style_ == Style::Colours            ? ColouredLine(record)
                             : style_ == Style::JournalPriorities ? JournalLines(record)
                                                                  : PlainLine(record);
    bool wake = false;
    {
        std::unique_lock lock(mutex_);
        // An output that stalls (a paused terminal, a pipe nobody reads) holds the sessions back
        // instead of letting the backlog grow without bound.
        pendingDrained_.wait(lock, [this] { return pending_.size() < kMaxPendingBytes || stopping_; });
        pending_ += line;
        wake = std::exchange(writerIdle_, false);
    }
    if (wake) pendingSet_.notify_one();
}

void TerminalLogPrinter::WriteUntilStopped() {
    std::string batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        writerIdle_ = pending_.empty() && !stopping_;
        pendingSet_.wait(lock, [this] { return !pending_.empty() || stopping_; });
        pendingSet_.wait_for(lock, kGatherTime, [this] { return stopping_; });
        if (pending_.empty()) return;  // stopping, and everything is out
        batch.clear();
        batch.swap(pending_);
        pendingDrained_.notify_all();
        lock.unlock();
        std::fwrite(batch.data(), 1, batch.size(), out_);
        std::fflush(out_);
        lock.lock();
    }
}

}  // namespace tolvane::monitor
