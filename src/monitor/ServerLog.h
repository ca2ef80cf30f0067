#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::monitor {

// A writer names the kind of a line by the kind's default colour (0x00BBGGRR); any other
// value is a literal colour.
enum LogKind : std::uint32_t {
    SystemMessage = 0xFF6400,
    RemoteCommand = 0x8C0000,
    ServerReply = 0x00AA00,
    ErrorMessage = 0x0000FF,
};

struct LogRecord {
    std::uint64_t sequence = 0;
    std::string stamp;  // empty for raw records
    std::string text;   // as written, normally ending in CR LF
    std::uint32_t kind = SystemMessage;
    bool underline = false;
    bool bold = true;
    // Offset into stamp + text from which a 5xx reply is shown in red.
    std::optional<std::size_t> highlightOffset;
    bool raw = false;
};

// The server log, shared by every session, transfer and the window. Appends from any thread
// are applied one at a time, each whole and in arrival order; only the newest `capacity`
// records are kept in memory.
class ServerLog {
public:
    using Clock = std::function<std::time_t()>;
    // Called with the log locked, once per record, in sequence order. A subscriber must not
    // call back into the log: that would deadlock.
    using Subscriber = std::function<void(const LogRecord&)>;

    explicit ServerLog(std::size_t capacity = 10000, Clock clock = [] { return std::time(nullptr); });

    ServerLog(const ServerLog&) = delete;
    ServerLog& operator=(const ServerLog&) = delete;

    // A text with two or more line feeds becomes one record per terminated line, each
    // carrying the text's connection tag; text after the last line feed is dropped.
    void AppendLine(std::string_view text, std::uint32_t kind, bool underline = false, bool bold = true);
    // Kept as given: no stamp, no splitting, no highlight. For the start-up banner.
    void AppendRaw(std::string_view text, std::uint32_t colour, bool underline, bool bold);

    // A record of another server's log, kept as it was written there (stamp included); only
    // its sequence number is this log's own.
    void Mirror(LogRecord record);

    std::vector<LogRecord> Records() const;
    void Clear();

    int Subscribe(Subscriber subscriber);
    // Once this returns, the subscriber is never called again.
    void Unsubscribe(int id);

private:
    void AppendStamped(const std::string& stamp, std::string text, std::uint32_t kind, bool underline,
                       bool bold);
    void Store(LogRecord record);

    const std::size_t capacity_;
    const Clock clock_;
    mutable std::mutex mutex_;
    std::deque<LogRecord> records_;
    std::uint64_t nextSequence_ = 1;
    std::map<int, Subscriber> subscribers_;
    int nextSubscriberId_ = 1;
};

}  // namespace tolvane::monitor
