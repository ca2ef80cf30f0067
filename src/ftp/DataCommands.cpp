#include "ftp/ControlConnection.h"

#include "ftp/ListingSocket.h"
#include "store/AccountDatabase.h"
#include "store/ProfileFile.h"

#include <algorithm>
#include <climits>
#include <ctime>
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

}  // namespace

void ControlConnection::PORT(const CommandRequest& request) {
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
    data_.UseActivePort(static_cast<int>(std::clamp<long long>(
        static_cast<long long>(LeadingNumber(high)) * 256 + LeadingNumber(low), INT_MIN, INT_MAX)));
    SendReply("200 PORT command succeed.\r\n");
}

void ControlConnection::PASV(const CommandRequest&) { data_.EnterPassiveMode(); }

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

void ControlConnection::LIST(const CommandRequest&) {
    const auto makeSocket = [this] {
        ListingOptions options{login_.account.hideHidden, showRelativePath_, std::nullopt, Credit()};
        if (login_.account.ratioEnabled) options.ratio = Ratio();
        return std::make_shared<ListingSocket>(Self(), CurrentDirectory(), std::move(options));
    };
    data_.StartTransfer({.kind = TransferKind::Listing,
                         .opening = "150 Opening ASCII data connection to bin/ls.\r\n",
                         .makeSocket = makeSocket});
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
