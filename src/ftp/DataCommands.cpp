#include "ftp/ControlConnection.h"

#include "ftp/FileReceiveSocket.h"
#include "ftp/ListingSocket.h"
#include "ftp/PassiveListenSocket.h"
#include "store/AccountDatabase.h"
#include "store/ProfileFile.h"

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

}  // namespace

void ControlConnection::PORT(const std::string& argument) {
    if (passiveMode_) {
        passiveMode_ = false;
        ClosePassiveListener();
    }
    // Only the port is read: the data connection always goes to the client's own address.
    const std::size_t last = argument.rfind(',');
    const std::string_view low = last == std::string::npos ? argument : std::string_view(argument).substr(last + 1);
    std::string_view high;
    if (last != std::string::npos) {
        const std::string_view before = std::string_view(argument).substr(0, last);
        const std::size_t previous = before.rfind(',');
        high = previous == std::string_view::npos ? before : before.substr(previous + 1);
    }
    dataPort_ = static_cast<int>(std::clamp<long long>(
        static_cast<long long>(LeadingNumber(high)) * 256 + LeadingNumber(low), INT_MIN, INT_MAX));
    SendReply("200 PORT command succeed.\r\n");
}

void ControlConnection::PASV(const std::string&) {
    // A listener that was never used would otherwise wait for a client forever.
    ClosePassiveListener();
    auto listener = std::make_shared<PassiveListenSocket>(ClientAddress());
    if (!listener->Create(0)) {
        SendReply("421 Out of Network sockets, please try later\r\n");
        return;
    }
    {
        std::lock_guard lock(dataMutex_);
        passiveListener_ = listener;
    }
    std::string localAddress;
    std::uint16_t controlPort = 0;
    std::string listenerAddress;
    std::uint16_t port = 0;
    if (!LocalName(localAddress, controlPort) || !listener->Listen(SOMAXCONN) ||
        !listener->LocalName(listenerAddress, port)) {
        SendReply("500 Failed to enter Passive Mode.\r\n");
        return;
    }
    std::replace(localAddress.begin(), localAddress.end(), '.', ',');
    passiveMode_ = true;
    SendReply("227 Entering Passive Mode (" + localAddress + "," + std::to_string(port / 256) + "," +
              std::to_string(port % 256) + ")\r\n");
}

std::shared_ptr<PassiveListenSocket> ControlConnection::OpenPassiveListener() const {
    std::unique_lock lock(dataMutex_);
    auto listener = passiveListener_.lock();
    lock.unlock();
    return listener && listener->IsOpen() ? listener : nullptr;
}

void ControlConnection::ClosePassiveListener() {
    std::unique_lock lock(dataMutex_);
    auto listener = std::exchange(passiveListener_, {}).lock();
    lock.unlock();
    if (listener) listener->Close();
}

// In passive mode a transfer needs the listener of a PASV that has not served yet.
bool ControlConnection::DataConnectionReady() {
    if (!passiveMode_ || OpenPassiveListener()) return true;
    SendReply("425 Use PORT or PASV first.\r\n");
    return false;
}

// Active mode: the data socket gets its own unconnected socket now and connects at hand-over.
bool ControlConnection::PrepareActiveSocket(const std::shared_ptr<DataSocket>& socket) {
    if (passiveMode_ || socket->Create(0)) return true;
    SendReply("421 Out of Network Sockets - try later\r\n");
    return false;
}

void ControlConnection::HandOver(const std::shared_ptr<DataSocket>& socket) {
    if (passiveMode_) {
        if (auto listener = OpenPassiveListener()) listener->SetTarget(socket);
        return;
    }
    const bool validPort = dataPort_ > 0 && dataPort_ <= 65535;
    if (!validPort || !socket->Connect(ClientAddress(), static_cast<std::uint16_t>(dataPort_))) socket->Close();
}

void ControlConnection::ApplySpeedLimit(DataSocket& socket, TransferKind kind) const {
    double staticSpeed = account_.listingSpeed;
    if (kind == TransferKind::Sending) staticSpeed = account_.sendingSpeed;
    if (kind == TransferKind::Receiving) staticSpeed = account_.receivingSpeed;
    double dynamicSpeed = 0.0;
    if (account_.speedLimitMode == "Dynamic") {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        const auto rules = store::ReadList(account_.dynamicRuleFile, "SPEED-LIMIT", "DynamicSpeedLimitRule", 0);
        dynamicSpeed = SpeedFor(store::DynamicLimit(rules, local), kind);
    }
    if (const auto limit = ftp::ApplySpeedLimit(account_.speedLimitMode, staticSpeed, dynamicSpeed))
        socket.SetSpeedLimit(*limit);
}

RatioTerms ControlConnection::Ratio() const {
    return RatioTerms{account_.ratioType, account_.download, account_.upload};
}

void ControlConnection::LIST(const std::string&) {
    if (!permissions_.list) {
        SendReply("550 Permission denied.\r\n");
        return;
    }
    if (!DataConnectionReady()) return;
    SendReply("150 Opening ASCII data connection to bin/ls.\r\n");
    ListingOptions options{account_.hideHidden, showRelativePath_, std::nullopt, Credit()};
    if (account_.ratioEnabled) options.ratio = Ratio();
    auto socket = std::make_shared<ListingSocket>(
        std::static_pointer_cast<ControlConnection>(shared_from_this()), CurrentDirectory(), std::move(options));
    if (!PrepareActiveSocket(socket)) return;
    {
        std::lock_guard lock(dataMutex_);
        listingSocket_ = socket;
    }
    listingActive_.store(true);
    ApplySpeedLimit(*socket, TransferKind::Listing);
    HandOver(socket);
}

void ControlConnection::EndTransfers() {
    std::unique_lock lock(dataMutex_);
    const std::shared_ptr<DataSocket> sockets[] = {downloadSocket_.lock(), uploadSocket_.lock(), listingSocket_.lock()};
    lock.unlock();
    for (const auto& socket : sockets)
        if (socket) socket->Cancel();
    ClosePassiveListener();
}

void ControlConnection::WriteBackCredit() {
    if (account_.ratioType.find("Sessions") == std::string::npos || accountSettingsFile_.empty()) return;
    store::WriteProfileString(accountSettingsFile_, "RATIO", "Credit", std::to_string(Credit()));
}

}  // namespace tolvane::ftp
