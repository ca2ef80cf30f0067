#include "ftp/DataChannel.h"

#include "ftp/ControlConnection.h"
#include "ftp/PassiveListenSocket.h"
#include "ftp/VerbMatch.h"
#include "store/ProgramSettings.h"

#include <algorithm>
#include <sys/socket.h>
#include <utility>

namespace tolvane::ftp {
namespace {

// The PASV form of an address and port: "h1,h2,h3,h4,p1,p2".
std::string HostPortText(const net::Endpoint& host, std::uint16_t port) {
    std::string text = host.Address();
    std::replace(text.begin(), text.end(), '.', ',');
    return text + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

}  // namespace

void DataChannel::UseActivePort(int port) {
    if (passiveMode_) {
        passiveMode_ = false;
        DropPassiveListener();
    }
    dataPort_ = port;
}

void DataChannel::EnterPassiveMode(bool extended) {
    DropPassiveListener();
    const auto local = session_.LocalName();
    auto listener = std::make_shared<PassiveListenSocket>(session_.Client());
    const auto opened = listener->Open(local ? local->Family() : AF_INET, session_.IpHome().passivePorts.get());
    if (opened == PassiveListenSocket::Opened::RangeFull) {
        session_.SendReply("425 No free passive port, try later.\r\n");
        return;
    }
    if (opened == PassiveListenSocket::Opened::Failed) {
        session_.SendReply("421 Out of Network sockets, please try later\r\n");
        return;
    }
    {
        std::lock_guard lock(dataMutex_);
        passiveListener_ = listener;
    }
    if (!local || !listener->Listen(SOMAXCONN) || !listener->LocalName()) {
        session_.SendReply("500 Failed to enter Passive Mode.\r\n");
        return;
    }
    passiveMode_ = true;
    if (extended) {
        session_.SendReply("229 Entering Extended Passive Mode (|||" + std::to_string(listener->LocalPort()) + "|)\r\n");
        return;
    }
    const std::string hostPort = HostPortText(PassiveReplyAddress(*local), listener->LocalPort());
    session_.SendReply("227 Entering Passive Mode (" + hostPort + ")\r\n");
}

// Behind a NAT router the client must be told the router's address, not the one it reached.
net::Endpoint DataChannel::PassiveReplyAddress(const net::Endpoint& local) const {
    const auto& published = session_.IpHome().passiveAddress;
    return published && published->Family() == local.Family() ? *published : local;
}

bool DataChannel::TakeTransferSlot() {
    ServedIpHome& ipHome = session_.IpHome();
    const int running = ipHome.runningTransfers.fetch_add(1) + 1;
    if (ipHome.transferLimit == -1 || running <= ipHome.transferLimit) return true;
    GiveBackTransferSlot();
    session_.SendReply("500 Max Transfers on server reached , try later.\r\n");
    return false;
}

void DataChannel::GiveBackTransferSlot() { session_.IpHome().runningTransfers.fetch_sub(1); }

// The server-wide limit counts the transfers whose data connection is up, over all IP homes.
bool DataChannel::ServerTransferLimitReached() {
    ServerShared& server = session_.Server();
    const int limit = store::ReadProgramSettings(server.SettingsFile()).maximumTransfers;
    if (limit == -1 || static_cast<int>(server.Registry().Transfers().Count()) < limit) return false;
    if (passiveMode_) ClosePassiveListener();
    session_.SendReply("421 Too many file transfers in progress, please try later.\r\n");
    return true;
}

// In passive mode a transfer needs the listener of a PASV that has not served yet.
bool DataChannel::DataConnectionReady() {
    if (!passiveMode_ || OpenPassiveListener()) return true;
    session_.SendReply("425 Use PORT or PASV first.\r\n");
    return false;
}

// Data in clear would show what the policy keeps secret.
bool DataChannel::ProtectionSuffices() {
    if (!session_.DataMustBeProtected() || session_.ProtectsData()) return true;
    session_.SendReply("521 Data connections must be encrypted: send PROT P.\r\n");
    return false;
}

// A listing holds no slot and is not counted against the server's limit.
bool DataChannel::TransferAllowed(TransferKind kind) {
    if (kind == TransferKind::Listing) return ProtectionSuffices() && DataConnectionReady();
    if (ProtectionSuffices() && !ServerTransferLimitReached() && DataConnectionReady()) return true;
    GiveBackTransferSlot();
    return false;
}

bool DataChannel::StartTransfer(TransferStart start) {
    if (!TransferAllowed(start.kind)) return false;
    if (!start.openingAfterSocket) session_.SendReply(start.opening);
    const std::shared_ptr<DataSocket> socket = start.makeSocket();
    if (!PrepareActiveSocket(socket)) return false;  // the socket gives the slot back as it goes
    if (start.openingAfterSocket) session_.SendReply(start.opening);
    if (start.fileCount) start.fileCount->fetch_add(1);
    ActiveFlag(start.kind).store(true);
    Track(start.kind, socket);
    if (const auto limit = session_.SpeedLimitFor(start.kind)) socket->SetSpeedLimit(*limit);
    socket->SetStallLimit(session_.DataTimeout());
    HandOver(socket);
    return true;
}

std::atomic<bool>& DataChannel::ActiveFlag(TransferKind kind) {
    switch (kind) {
    case TransferKind::Sending: return downloadActive_;
    case TransferKind::Receiving: return uploadActive_;
    case TransferKind::Listing: break;
    }
    return listingActive_;
}

void DataChannel::Track(TransferKind kind, const std::shared_ptr<DataSocket>& socket) {
    std::lock_guard lock(dataMutex_);
    switch (kind) {
    case TransferKind::Sending: downloadSocket_ = socket; break;
    case TransferKind::Receiving: uploadSocket_ = socket; break;
    case TransferKind::Listing: listingSocket_ = socket; break;
    }
}

std::shared_ptr<PassiveListenSocket> DataChannel::OpenPassiveListener() const {
    std::unique_lock lock(dataMutex_);
    auto listener = passiveListener_.lock();
    lock.unlock();
    return listener && listener->IsOpen() ? listener : nullptr;
}

// A listener that was never used would otherwise wait for a client for ever; one that a transfer
// command already holds serves that transfer, which ends with its own 226 or 426.
void DataChannel::DropPassiveListener() {
    std::unique_lock lock(dataMutex_);
    auto listener = std::exchange(passiveListener_, {}).lock();
    lock.unlock();
    if (!listener) return;
    if (!listener->HasTarget()) return listener->Close();
    lock.lock();
    std::erase_if(heldListeners_, [](const auto& held) { return held.expired(); });
    heldListeners_.push_back(listener);
}

void DataChannel::ClosePassiveListener() {
    std::unique_lock lock(dataMutex_);
    auto listener = std::exchange(passiveListener_, {}).lock();
    lock.unlock();
    if (listener) listener->Close();
}

// Active mode: the data socket gets its own unconnected socket now and connects at hand-over.
bool DataChannel::PrepareActiveSocket(const std::shared_ptr<DataSocket>& socket) {
    if (passiveMode_ || socket->CreateAt(net::Endpoint::AnyOf(session_.Client().Family()))) return true;
    session_.SendReply("421 Out of Network Sockets - try later\r\n");
    return false;
}

void DataChannel::HandOver(const std::shared_ptr<DataSocket>& socket) {
    // The server is the TLS server on the data connection whichever side connects.
    if (session_.ProtectsData()) socket->StartTls(session_.IpHome().tls, true);
    if (passiveMode_) {
        if (auto listener = OpenPassiveListener()) listener->SetTarget(socket);
        return;
    }
    const bool validPort = dataPort_ > 0 && dataPort_ <= 65535;
    if (!validPort || !socket->Connect(session_.Client().WithPort(static_cast<std::uint16_t>(dataPort_))))
        socket->Close();
}

void DataChannel::Abort(const std::string& previousVerb) {
    std::unique_lock lock(dataMutex_);
    const auto download = downloadSocket_.lock();
    const auto upload = uploadSocket_.lock();
    lock.unlock();
    if (download && SameVerb(previousVerb, "RETR")) download->Abort();
    if (upload && (SameVerb(previousVerb, "STOR") || SameVerb(previousVerb, "APPE")) && upload->Active())
        upload->Abort();
}

std::array<std::shared_ptr<DataSocket>, 3> DataChannel::RunningSockets() const {
    std::lock_guard lock(dataMutex_);
    return {downloadSocket_.lock(), uploadSocket_.lock(), listingSocket_.lock()};
}

void DataChannel::TimeOutTransfers() {
    for (const auto& socket : RunningSockets())
        if (socket) socket->TimeOut();
}

void DataChannel::EndTransfers() {
    for (const auto& socket : RunningSockets())
        if (socket) socket->Cancel();
    ClosePassiveListener();
    std::unique_lock lock(dataMutex_);
    const auto held = std::exchange(heldListeners_, {});
    lock.unlock();
    for (const auto& weak : held)
        if (const auto listener = weak.lock()) listener->Close();
}

bool DataChannel::MovedSinceLastTick() {
    const std::uint64_t moved = bytesMoved_.load();
    return std::exchange(movedAtLastTick_, moved) != moved;
}

}  // namespace tolvane::ftp
