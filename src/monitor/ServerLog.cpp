#include "monitor/ServerLog.h"

#include <algorithm>
#include <utility>

#include "monitor/LogText.h"
#include "monitor/RecordStamp.h"

namespace tolvane::monitor {

namespace {

constexpr std::string_view kConnectionTagEnd = "]-";
constexpr std::string_view kErrorReplyMark = "]- 5";

bool HoldsSeveralLines(std::string_view text) {
    return std::count(text.begin(), text.end(), '\n') >= 2;
}

// The connection tag that every split line repeats: through the blank after the first "]-",
// or the first two characters of an untagged text.
std::string_view SplitPrefix(std::string_view text) {
    const auto tagEnd = text.find(kConnectionTagEnd);
    return text.substr(0, tagEnd == std::string_view::npos ? 2 : tagEnd + kConnectionTagEnd.size() + 1);
}

std::vector<std::string_view> TerminatedLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (auto end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
        lines.push_back(text.substr(0, end + 1));
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::optional<std::size_t> ErrorReplyOffset(const std::string& stampedLine) {
    const auto mark = stampedLine.find(kErrorReplyMark);
    if (mark == std::string::npos) {
        return std::nullopt;
    }
    return mark + kConnectionTagEnd.size();
}

}  // namespace

ServerLog::ServerLog(std::size_t capacity, Clock clock) : capacity_(capacity), clock_(std::move(clock)) {}

void ServerLog::AppendLine(std::string_view raw, std::uint32_t kind, bool underline, bool bold) {
    const std::string escaped = EscapeControlCharacters(raw);
    const std::string_view text = escaped;
    std::lock_guard lock(mutex_);
    const std::string stamp = FormatRecordStamp(clock_());
    if (!HoldsSeveralLines(text)) {
        AppendStamped(stamp, std::string(text), kind, underline, bold);
        return;
    }
    const auto prefix = SplitPrefix(text);
    for (const auto line : TerminatedLines(text.substr(prefix.size()))) {
        AppendStamped(stamp, std::string(prefix).append(line), kind, underline, bold);
    }
}

void ServerLog::AppendRaw(std::string_view text, std::uint32_t colour, bool underline, bool bold) {
    std::lock_guard lock(mutex_);
    Store({.stamp = {},
           .text = std::string(text),
           .kind = colour,
           .underline = underline,
           .bold = bold,
           .highlightOffset = std::nullopt,
           .raw = true});
}

void ServerLog::AppendStamped(const std::string& stamp, std::string text, std::uint32_t kind, bool underline,
                              bool bold) {
    auto highlightOffset = ErrorReplyOffset(stamp + text);
    Store({.stamp = stamp,
           .text = std::move(text),
           .kind = kind,
           .underline = underline,
           .bold = bold,
           .highlightOffset = highlightOffset});
}

void ServerLog::Mirror(LogRecord record) {
    std::lock_guard lock(mutex_);
    Store(std::move(record));
}

void ServerLog::Store(LogRecord record) {
    record.sequence = nextSequence_++;
    records_.push_back(std::move(record));
    for (const auto& [id, subscriber] : subscribers_) {
        subscriber(records_.back());
    }
    while (records_.size() > capacity_) {
        records_.pop_front();
    }
}

std::vector<LogRecord> ServerLog::Records() const {
    std::lock_guard lock(mutex_);
    return {records_.begin(), records_.end()};
}

void ServerLog::Clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

int ServerLog::Subscribe(Subscriber subscriber) {
    std::lock_guard lock(mutex_);
    const int id = nextSubscriberId_++;
    subscribers_.emplace(id, std::move(subscriber));
    return id;
}

void ServerLog::Unsubscribe(int id) {
    std::lock_guard lock(mutex_);
    subscribers_.erase(id);
}

}  // namespace tolvane::monitor
