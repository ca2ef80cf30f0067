#include "clients/SmtpReply.h"

namespace tolvane::clients {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int ReplyCode(std::string_view line) {
    if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return 0;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// A line that says more lines of the same reply follow.
bool IsContinuation(std::string_view line) { return line.size() > 3 && line[3] == '-' && ReplyCode(line) != 0; }

}  // namespace

SmtpReply ScanSmtpReply(std::string_view received) {
    std::size_t start = 0;
    while (start < received.size() && start < kMaxSmtpReplyBytes) {
        const std::size_t end = received.find('\n', start);
        if (end == std::string_view::npos) break;
        const std::size_t next = end + 1;
        if (next > kMaxSmtpReplyBytes) break;
        const std::string_view line = received.substr(start, end - start);
        if (!IsContinuation(line)) return {ReplyState::Complete, next, ReplyCode(line)};
        start = next;
    }
    const bool tooLong = received.size() >= kMaxSmtpReplyBytes;
    return {tooLong ? ReplyState::TooLong : ReplyState::Incomplete, 0, 0};
}

}  // namespace tolvane::clients
