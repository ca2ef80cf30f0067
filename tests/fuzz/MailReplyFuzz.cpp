// SMTP and POP3 replies as a hostile mail server may send them, taken one after another from
// the stream as the mail clients do: a complete reply ends in its line feed and never reaches
// past what was received or past the reply limit, and an unfinished one is refused once it
// reaches the limit.
#include "clients/Pop3Reply.h"
#include "clients/SmtpReply.h"

#include <cstdlib>
#include <string_view>

namespace {

using namespace tolvane::clients;

void Check(bool condition) {
    if (!condition) std::abort();
}

void ScanSmtpStream(std::string_view stream) {
    for (;;) {
        const SmtpReply reply = ScanSmtpReply(stream);
        if (reply.state != ReplyState::Complete) {
            Check(reply.length == 0 && (reply.state == ReplyState::TooLong) == (stream.size() >= kMaxSmtpReplyBytes));
            return;
        }
        Check(reply.length > 0 && reply.length <= stream.size() && reply.length <= kMaxSmtpReplyBytes);
        Check(stream[reply.length - 1] == '\n' && reply.code >= 0 && reply.code <= 999);
        // The reply alone reads the same as with more bytes behind it.
        const SmtpReply alone = ScanSmtpReply(stream.substr(0, reply.length));
        Check(alone.state == ReplyState::Complete && alone.length == reply.length && alone.code == reply.code);
        stream.remove_prefix(reply.length);
    }
}

void ScanPop3Stream(std::string_view stream) {
    for (;;) {
        const Pop3Reply reply = ScanPop3Reply(stream);
        if (reply.state != ReplyState::Complete) {
            Check(reply.length == 0 && (reply.state == ReplyState::TooLong) == (stream.size() >= kMaxPop3ReplyBytes));
            return;
        }
        Check(reply.length > 0 && reply.length <= stream.size() && reply.length <= kMaxPop3ReplyBytes);
        Check(stream[reply.length - 1] == '\n' && (!reply.positive || stream.front() == '+'));
        stream.remove_prefix(reply.length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view stream(reinterpret_cast<const char*>(data), size);
    ScanSmtpStream(stream);
    ScanPop3Stream(stream);
    return 0;
}
