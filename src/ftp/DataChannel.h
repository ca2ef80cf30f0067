#pragma once

#include "ftp/DataSocket.h"
#include "ftp/SpeedLimit.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tolvane::ftp {

class ControlConnection;
class PassiveListenSocket;

// How one transfer command opens its data connection.
struct TransferStart {
    TransferKind kind;
    // The 150 reply; RETR sends it once its socket is there, the others before.
    std::string opening;
    bool openingAfterSocket = false;
    std::function<std::shared_ptr<DataSocket>()> makeSocket;
    std::atomic<int>* fileCount = nullptr;  // the session's figure a file transfer adds to
};

// The data side of one session: active or passive mode, the passive listener, the running
// data connections and the IP home's transfer slots. Lives inside its session and answers on
// it. The session's worker drives it; a kick from the window and the data sockets reach it too.
class DataChannel {
public:
    explicit DataChannel(ControlConnection& session) : session_(session) {}

    DataChannel(const DataChannel&) = delete;
    DataChannel& operator=(const DataChannel&) = delete;

    bool Passive() const { return passiveMode_; }
    // PORT: later transfers connect to this port of the client's address.
    void UseActivePort(int port);
    // PASV (or EPSV, `extended`): opens a fresh listener and answers with its address.
    void EnterPassiveMode(bool extended = false);
    // EPSV ALL: from now on only EPSV may set up data connections.
    void KeepToExtendedPassive() { extendedOnly_ = true; }
    bool ExtendedPassiveOnly() const { return extendedOnly_; }

    // Takes one of the IP home's transfer slots; answers and gives it back when none is free.
    bool TakeTransferSlot();
    void GiveBackTransferSlot();

    // The one way RETR, STOR, APPE and LIST reach their data connection. A file transfer holds
    // a slot on entry, which the data socket takes over; false when nothing started (the
    // client has its answer).
    bool StartTransfer(TransferStart start);

    // ABOR: ends the download or upload that the previous command started.
    void Abort(const std::string& previousVerb);
    // Ends the data connections and the passive listener without replies: kick, session end.
    void EndTransfers();
    // The session's time-out: each transfer ends with its own 425 or 426 first.
    void TimeOutTransfers();
    // What the data sockets add their moved bytes to; true once per idle tick of the session
    // when some moved since the last: a stalled transfer does not keep its session alive.
    void CountMoved(std::size_t bytes) { bytesMoved_.fetch_add(bytes); }
    bool MovedSinceLastTick();

    // What the data sockets keep up to date.
    std::atomic<bool>& DownloadActiveFlag() { return downloadActive_; }
    std::atomic<bool>& UploadActiveFlag() { return uploadActive_; }
    std::atomic<bool>& ListingActiveFlag() { return listingActive_; }

private:
    bool ServerTransferLimitReached();
    bool DataConnectionReady();
    bool TransferAllowed(TransferKind kind);
    std::shared_ptr<PassiveListenSocket> OpenPassiveListener() const;
    net::Endpoint PassiveReplyAddress(const net::Endpoint& local) const;
    void ClosePassiveListener();
    void DropPassiveListener();
    std::array<std::shared_ptr<DataSocket>, 3> RunningSockets() const;
    bool PrepareActiveSocket(const std::shared_ptr<DataSocket>& socket);
    void Track(TransferKind kind, const std::shared_ptr<DataSocket>& socket);
    std::atomic<bool>& ActiveFlag(TransferKind kind);
    void HandOver(const std::shared_ptr<DataSocket>& socket);
    bool ProtectionSuffices();

    ControlConnection& session_;
    bool passiveMode_ = false;
    bool extendedOnly_ = false;
    int dataPort_ = 0;
    mutable std::mutex dataMutex_;  // the session and a kick from the window both reach these
    std::weak_ptr<PassiveListenSocket> passiveListener_;
    // Listeners a later PASV or PORT left to the transfer they hold; closed with the session.
    std::vector<std::weak_ptr<PassiveListenSocket>> heldListeners_;
    std::weak_ptr<DataSocket> downloadSocket_;
    std::weak_ptr<DataSocket> uploadSocket_;
    std::weak_ptr<DataSocket> listingSocket_;
    std::atomic<bool> downloadActive_{false};
    std::atomic<bool> uploadActive_{false};
    std::atomic<bool> listingActive_{false};
    std::atomic<std::uint64_t> bytesMoved_{0};
    std::uint64_t movedAtLastTick_ = 0;  // the session's worker only
};

}  // namespace tolvane::ftp
