#include "ftp/ControlConnection.h"

#include "net/PlatformHelpers.h"

#include <algorithm>
#include <cstdint>

namespace tolvane::ftp {
namespace {

// Leading blanks, a sign and the digits that follow, as atoi reads them, but 64 bits wide and
// saturating; a negative offset means no offset.
std::int64_t ParseOffset(std::string_view text) {
    std::size_t at = text.find_first_not_of(" \t");
    if (at == std::string_view::npos) return 0;
    const bool negative = text[at] == '-';
    if (negative || text[at] == '+') ++at;
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (value > (INT64_MAX - 9) / 10) return negative ? 0 : INT64_MAX;
        value = value * 10 + (text[at] - '0');
    }
    return negative ? 0 : value;
}

}  // namespace

void ControlConnection::HELP(const CommandRequest&) {
    static const std::string reply = HelpReply(Commands());
    SendReply(reply);
}

void ControlConnection::SITE(const CommandRequest&) { SendReply("500 SITE commands not implemented.\r\n"); }

void ControlConnection::NOOP(const CommandRequest&) { SendReply("200 Command okay.\r\n"); }

void ControlConnection::SYST(const CommandRequest&) {
    SendReply("215 UNIX Type: L8 - OS:" + net::OsDescription() + ".\r\n");
}

void ControlConnection::TYPE(const CommandRequest& request) {
    SendReply("200 TYPE has been set to " + request.argument + "\r\n");
}

void ControlConnection::PWD(const CommandRequest&) {
    std::string path = net::ToClientPath(currentDirectory_);
    if (showRelativePath_) path.erase(0, std::min(homeDirectory_.size(), path.size()));
    SendReply("257 \"/" + path + "\" is current directory.\r\n");
}

void ControlConnection::QUIT(const CommandRequest&) {
    SendReply("221 Good Bye!\r\n");
    SystemMessage(Tag() + "Closed connection to " + ClientAddress() + " ...\r\n", monitor::SystemMessage);
    RemoveConnectionsRow();
    Close();
}

void ControlConnection::REST(const CommandRequest& request) {
    restart_.Set(ParseOffset(request.argument));
    SendReply("350 Restarting at " + request.argument + " - Call RETR or STOR for tansfer.\r\n");
}

}  // namespace tolvane::ftp
