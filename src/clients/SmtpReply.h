#pragma once

// Recognising one whole SMTP reply in received bytes. A reply is one or more lines; every line
// but the last has a '-' after its three-digit code. Lines end in LF, with or without CR.

#include <cstddef>
#include <string_view>

namespace tolvane::clients {

// A reply that has not ended within this many bytes is refused: a peer must not make the
// client buffer without bound.
inline constexpr std::size_t kMaxSmtpReplyBytes = 8192;

enum class ReplyState { Incomplete, Complete, TooLong };

struct SmtpReply {
    ReplyState state = ReplyState::Incomplete;
    // Bytes of `received` the reply takes, its last line end included (when complete).
    std::size_t length = 0;
    // The code of the last line; 0 when its first three characters are not three digits.
    int code = 0;
};

SmtpReply ScanSmtpReply(std::string_view received);

}  // namespace tolvane::clients
