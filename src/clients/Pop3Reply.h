#pragma once

// Recognising one POP3 status line ("+OK ..." or "-ERR ...") in received bytes.

#include "clients/SmtpReply.h"

#include <cstddef>
#include <string_view>

namespace tolvane::clients {

// Longer status lines are refused (the protocol allows 512 bytes).
inline constexpr std::size_t kMaxPop3ReplyBytes = 1000;

struct Pop3Reply {
    ReplyState state = ReplyState::Incomplete;
    std::size_t length = 0;
    // "+OK" at the start, in any case; anything else is a refusal.
    bool positive = false;
};

Pop3Reply ScanPop3Reply(std::string_view received);

}  // namespace tolvane::clients
