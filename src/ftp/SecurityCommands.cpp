#include "ftp/ControlConnection.h"

#include "net/AsciiText.h"

#include <algorithm>

namespace tolvane::ftp {
namespace {

bool NamesTls(std::string_view mechanism) {
    return net::SameIgnoringAsciiCase(mechanism, "TLS") || net::SameIgnoringAsciiCase(mechanism, "SSL") ||
           net::SameIgnoringAsciiCase(mechanism, "TLS-C") || net::SameIgnoringAsciiCase(mechanism, "TLS-P");
}

bool IsNumber(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

// The 234 leaves in clear; everything after it is secured. Lines the client sent behind AUTH
// before the handshake are dropped: nobody could tell who wrote them.
void ControlConnection::AUTH(const CommandRequest& request) {
    if (!ipHome_->tls || !NamesTls(request.argument)) {
        SendReply("504 AUTH type not supported.\r\n");
        return;
    }
    if (Secure()) {
        SendReply("503 TLS is already on.\r\n");
        return;
    }
    {
        std::lock_guard lock(replyMutex_);
        TransmitLocked("234 AUTH TLS OK.\r\n", false);
        StartTls(ipHome_->tls, false);
    }
    discardPendingLines_ = true;
    server_->Registry().Connections().SetEncrypted(RowKey(), true);
    SystemMessage(Tag() + "Control connection secured with TLS\r\n", monitor::SystemMessage);
}

// Implicit FTPS: the greeting is the first thing sent under TLS, its handshake done in the
// greeting's send.
void ControlConnection::SecureFromFirstByte() {
    {
        std::lock_guard lock(replyMutex_);
        StartTls(ipHome_->tls, false);
    }
    SystemMessage(Tag() + "Control connection secured with TLS\r\n", monitor::SystemMessage);
}

bool ControlConnection::RefusedWithoutTls() {
    if (Secure()) return false;
    SendReply("503 Send AUTH TLS first.\r\n");
    return true;
}

// Streams need no buffer: any size asked for is answered with 0.
void ControlConnection::PBSZ(const CommandRequest& request) {
    if (RefusedWithoutTls()) return;
    SendReply(IsNumber(request.argument) ? "200 PBSZ=0\r\n" : "501 PBSZ takes a number.\r\n");
}

void ControlConnection::PROT(const CommandRequest& request) {
    if (RefusedWithoutTls()) return;
    const std::string_view level = request.argument;
    if (net::SameIgnoringAsciiCase(level, "P") || net::SameIgnoringAsciiCase(level, "C")) {
        protectData_ = net::SameIgnoringAsciiCase(level, "P");
        SendReply(protectData_ ? "200 Data connections are private.\r\n" : "200 Data connections are clear.\r\n");
    } else if (net::SameIgnoringAsciiCase(level, "S") || net::SameIgnoringAsciiCase(level, "E")) {
        SendReply("536 Protection level not supported.\r\n");
    } else {
        SendReply("504 Protection level not understood.\r\n");
    }
}

// Once secured, the control connection stays so: a clear one would show the commands again.
void ControlConnection::CCC(const CommandRequest&) {
    if (RefusedWithoutTls()) return;
    SendReply("534 The control connection stays encrypted.\r\n");
}

}  // namespace tolvane::ftp
