#include "ftp/ControlConnection.h"

#include "ftp/ExtendedPort.h"
#include "net/AsciiText.h"
#include "store/AccountDatabase.h"
#include "store/ProfileFile.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <sys/socket.h>
#include <utility>

namespace tolvane::ftp {
namespace {

// atoi: leading blanks, a sign, the digits that follow; saturating instead of overflowing.
int LeadingNumber(std::string_view text) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return 0;
    text.remove_prefix(start);
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) text.remove_prefix(1);
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = std::min<long long>(value * 10 + (c - '0'), INT_MAX);
    }
    return static_cast<int>(negative ? -value : value);
}

constexpr int kFirstUnprivilegedPort = 1024;

// The EPRT/EPSV number of the family the client reached the server over: 1 IPv4, 2 IPv6.
int ControlFamily(const ControlConnection& session) {
    const auto local = session.LocalName();
    return local && local->Family() == AF_INET6 ? 2 : 1;
}

std::string WrongFamilyReply(int family) {
    return "522 Network protocol not supported, use (" + std::to_string(family) + ")\r\n";
}

}  // namespace

// PORT and PASV carry an IPv4 address only; an IPv6 client must use EPRT and EPSV.
bool ControlConnection::RefusedOverIpv6() {
    if (ControlFamily(*this) != 2) return false;
    SendReply(WrongFamilyReply(2));
    return true;
}

// After EPSV ALL the client has promised to use EPSV only.
bool ControlConnection::RefusedAfterEpsvAll() {
    if (!data_.ExtendedPassiveOnly()) return false;
    SendReply("503 Only EPSV is allowed after EPSV ALL.\r\n");
    return true;
}

// A data connection to a privileged port or to the server's own control port would let a
// client make the server speak a protocol on its behalf (an FTP bounce).
bool ControlConnection::RefusedBounce(int port) {
    const bool ownPort = port > 0 && port <= 65535 && server_->IsListeningPort(static_cast<std::uint16_t>(port));
    if (port >= kFirstUnprivilegedPort && !ownPort) return false;
    SendReply("504 Data connections to that port are refused.\r\n");
    return true;
}

void ControlConnection::PORT(const CommandRequest& request) {
    if (RefusedAfterEpsvAll() || RefusedOverIpv6()) return;
    // Only the port is read: the data connection always goes to the client's own address.
    const std::string_view argument = request.argument;
    const std::size_t last = argument.rfind(',');
    const std::string_view low = last == std::string_view::npos ? argument : argument.substr(last + 1);
    std::string_view high;
    if (last != std::string_view::npos) {
        const std::string_view before = argument.substr(0, last);
        const std::size_t previous = before.rfind(',');
        high = previous == std::string_view::npos ? before : before.substr(previous + 1);
    }
    const int port = static_cast<int>(std::clamp<long long>(
        static_cast<long long>(LeadingNumber(high)) * 256 + LeadingNumber(low), INT_MIN, INT_MAX));
    if (RefusedBounce(port)) return;
    data_.UseActivePort(port);
    SendReply("200 PORT command succeed.\r\n");
}

void ControlConnection::PASV(const CommandRequest&) {
    if (RefusedAfterEpsvAll() || RefusedOverIpv6()) return;
    data_.EnterPassiveMode();
}

void ControlConnection::EPSV(const CommandRequest& request) {
    const std::string argument = GivenArgument(request.argument);
    if (net::SameIgnoringAsciiCase(argument, "ALL")) {
        data_.KeepToExtendedPassive();
        SendReply("200 EPSV ALL command successful.\r\n");
    } else if (argument.empty() || argument == std::to_string(ControlFamily(*this))) {
        data_.EnterPassiveMode(true);
    } else if (argument == "1" || argument == "2") {
        SendReply(WrongFamilyReply(ControlFamily(*this)));
    } else {
        SendReply("501 Syntax error in parameters or arguments.\r\n");
    }
}

// As with PORT, the data connection goes to the client's own address whatever the argument
// names; the family must be the control connection's and the address one of it.
void ControlConnection::EPRT(const CommandRequest& request) {
    if (RefusedAfterEpsvAll()) return;
    const std::optional<ExtendedPort> target = ParseExtendedPort(request.argument);
    if (!target) return SendReply("501 Syntax error in parameters or arguments.\r\n");
    const int family = ControlFamily(*this);
    if (target->family != family) return SendReply(WrongFamilyReply(family));
    const auto address = net::Endpoint::Parse(target->address);
    if (!address || address->Family() != (family == 2 ? AF_INET6 : AF_INET))
        return SendReply("501 Syntax error in parameters or arguments.\r\n");
    if (RefusedBounce(target->port)) return;
    data_.UseActivePort(target->port);
    SendReply("200 EPRT command successful.\r\n");
}

std::optional<SpeedLimit> ControlConnection::SpeedLimitFor(TransferKind kind) const {
    const store::AccountSettings& account = login_.account;
    double staticSpeed = account.listingSpeed;
    if (kind == TransferKind::Sending) staticSpeed = account.sendingSpeed;
    if (kind == TransferKind::Receiving) staticSpeed = account.receivingSpeed;
    double dynamicSpeed = 0.0;
    if (account.speedLimitMode == "Dynamic") {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        const auto rules = store::ReadList(account.dynamicRuleFile, "SPEED-LIMIT", "DynamicSpeedLimitRule", 0);
        dynamicSpeed = SpeedFor(store::DynamicLimit(rules, local), kind);
    }
    return ApplySpeedLimit(account.speedLimitMode, staticSpeed, dynamicSpeed);
}

RatioTerms ControlConnection::Ratio() const {
    return RatioTerms{login_.account.ratioType, login_.account.download, login_.account.upload};
}

std::shared_ptr<ControlConnection> ControlConnection::Self() {
    return std::static_pointer_cast<ControlConnection>(shared_from_this());
}

void ControlConnection::WriteBackCredit() { credit_->WriteBack(); }

std::optional<std::shared_ptr<CreditReservation>> ControlConnection::ReserveCredit(std::int64_t size) {
    if (!login_.account.ratioEnabled) return std::shared_ptr<CreditReservation>();
    const bool countsBytes = Ratio().CountsBytes();
    const std::int64_t amount = countsBytes ? size : 1;
    if (!credit_->Reserve(amount, countsBytes)) return std::nullopt;
    return std::make_shared<CreditReservation>(credit_, amount, countsBytes);
}

}  // namespace tolvane::ftp
