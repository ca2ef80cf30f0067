#include "ftp/ControlConnection.h"

#include "net/AsciiText.h"
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

void ControlConnection::SITE(const CommandRequest& request) {
    if (net::SameIgnoringAsciiCase(request.argument, "HELP")) {
        SendReply("214 No SITE commands are offered; SITE HELP is the only one understood.\r\n");
        return;
    }
    SendReply("500 SITE commands not implemented.\r\n");
}

// Answered before login too: clients ask before they log in.
void ControlConnection::FEAT(const CommandRequest&) {
    SendReply(FeatReply(Commands(), FactListText(mlstFacts_, true), ipHome_->tls != nullptr));
}

// Names are bytes that are never converted, so UTF-8 is always on.
void ControlConnection::OPTS(const CommandRequest& request) {
    const std::string_view argument = request.argument;
    const std::size_t blank = argument.find(' ');
    const std::string_view option = argument.substr(0, blank);
    const std::string_view value = blank == std::string_view::npos ? std::string_view() : argument.substr(blank + 1);
    if (net::SameIgnoringAsciiCase(option, "UTF8")) {
        SendReply(net::SameIgnoringAsciiCase(value, "ON") ? "200 UTF8 mode is always on.\r\n"
                                                          : "504 UTF8 mode cannot be turned off.\r\n");
    } else if (net::SameIgnoringAsciiCase(option, "MLST")) {
        mlstFacts_ = ParseFactList(value);
        SendReply("200 MLST OPTS " + FactListText(mlstFacts_, false) + "\r\n");
    } else {
        SendReply("501 Option not understood.\r\n");
    }
}

// No security mechanism is offered yet.

void ControlConnection::STRU(const CommandRequest& request) {
    SendReply(net::SameIgnoringAsciiCase(request.argument, "F") ? "200 Structure set to F.\r\n"
                                                               : "504 Only file structure (F) is supported.\r\n");
}

void ControlConnection::MODE(const CommandRequest& request) {
    SendReply(net::SameIgnoringAsciiCase(request.argument, "S") ? "200 Mode set to S.\r\n"
                                                               : "504 Only stream mode (S) is supported.\r\n");
}

void ControlConnection::ALLO(const CommandRequest&) { SendReply("202 No storage allocation necessary.\r\n"); }

void ControlConnection::CLNT(const CommandRequest&) { SendReply("200 Noted.\r\n"); }

void ControlConnection::NOOP(const CommandRequest&) { SendReply("200 Command okay.\r\n"); }

void ControlConnection::SYST(const CommandRequest&) {
    SendReply("215 UNIX Type: L8 - OS:" + net::OsDescription() + ".\r\n");
}

void ControlConnection::TYPE(const CommandRequest& request) {
    SendReply("200 TYPE has been set to " + request.argument + "\r\n");
}

void ControlConnection::PWD(const CommandRequest&) {
    SendReply("257 \"" + CurrentClientPath() + "\" is current directory.\r\n");
}

// A line without a blank carries its verb as the argument; the newer verbs take that as none.
std::string ControlConnection::GivenArgument(const std::string& argument) const {
    return argument == previousVerb_ ? std::string() : argument;
}

// The working directory as the client names it.
std::string ControlConnection::CurrentClientPath() const {
    std::string path = net::ToClientPath(currentDirectory_);
    if (showRelativePath_) path.erase(0, std::min(homeDirectory_.size(), path.size()));
    return "/" + path;
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
