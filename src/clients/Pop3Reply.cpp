#include "clients/Pop3Reply.h"

#include "net/AsciiText.h"

namespace tolvane::clients {
namespace {

bool StartsWithOk(std::string_view line) {
    return line.size() >= 3 && line[0] == '+' && net::SameIgnoringAsciiCase(line.substr(1, 2), "OK");
}

}  // namespace

Pop3Reply ScanPop3Reply(std::string_view received) {
    const std::size_t end = received.substr(0, kMaxPop3ReplyBytes).find('\n');
    if (end == std::string_view::npos) {
        const bool tooLong = received.size() >= kMaxPop3ReplyBytes;
        return {tooLong ? ReplyState::TooLong : ReplyState::Incomplete, 0, false};
    }
    return {ReplyState::Complete, end + 1, StartsWithOk(received.substr(0, end))};
}

}  // namespace tolvane::clients
