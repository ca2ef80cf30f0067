#pragma once

#include "ftp/SpeedLimit.h"
#include "monitor/RowOwner.h"
#include "net/EventSocket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tolvane::ftp {

class ControlConnection;

// A data connection of one session: a listing, a download or an upload. It runs on its own
// worker, answers on its session's control connection and ends by itself.
class DataSocket : public net::EventSocket, public monitor::TransferHandle {
public:
    // activeFlag is the session's in-progress flag of this kind; a file transfer holds one of
    // the IP home's transfer slots, taken by its command, until it ends.
    DataSocket(std::shared_ptr<ControlConnection> owner, std::atomic<bool>& activeFlag, bool holdsTransferSlot);
    ~DataSocket() override;

    // The data connection is there (active connect done, or about to be accepted by the
    // passive listener). False when the transfer cannot start; it has then answered and the
    // caller drops the connection.
    virtual bool StartTransfer() = 0;

    // Ends the transfer without any reply: kick, session end.
    void Cancel();
    bool Cancelled() const { return cancelled_.load(); }
    // Ends the transfer with this reply (425 when its data connection never came up, 426 when
    // it stopped moving), unless it has ended already.
    virtual void EndStalled(std::string_view reply);
    // The time-out's end: 425 before the data connection came up, 426 after.
    void TimeOut();
    // Seconds the transfer may wait for its data connection or move nothing; 0: no limit.
    void SetStallLimit(int seconds) { stallLimit_.store(seconds); }
    int StallLimit() const { return stallLimit_.load(); }
    // ABOR: ends the transfer with the reply its state calls for; a listing runs on.
    virtual void Abort() {}
    // Whether the session's in-progress flag of this kind is still up.
    bool Active() const { return activeFlag_.load(); }
    // The administrator's "Close Transfer": the transfer ends as failed.
    void CloseTransfer() override { Cancel(); }

    void SetSpeedLimit(const SpeedLimit& limit);
    // The administrator's change of a running transfer's limit; measuring starts anew.
    void ChangeSpeedLimit(std::uint32_t bytesPerSecond) override;
    SpeedLimit CurrentSpeedLimit() const;
    bool SpeedLimited() const override { return limitOn_.load(); }
    std::uint32_t SpeedLimitBytesPerSecond() const override { return limit_.load(); }
    // A listing has no transfer row; the file transfers count their bytes.
    std::int64_t BytesMoved() const override { return 0; }
    double BytesPerSecond() const override;

    // This transfer as its monitor row knows it.
    std::weak_ptr<monitor::RowOwner> RowKey();

protected:
    void OnConnect() override;
    void OnIdleTick() override;
    void OnWorkerExit() override;
    void OnSecured() override;
    void OnSecureFailure() override;
    // A TLS client sends its hello as soon as it has the connection; one that stays silent waits
    // for bytes in clear (curl 7.87 and 7.88 in active mode), which PROT P never sends.
    bool WaitsInVainForHello();

    // Sleeps as long as the speed limit asks after `bytes` more have moved; false when the
    // socket was closed meanwhile.
    bool Pace(std::size_t bytes);
    bool Started() const { return started_.load(); }
    // StartTransfer calls this once the transfer really begins.
    void MarkStarted();
    // Seconds since the transfer started, at least one, for rates.
    double SecondsRunning() const;

    const std::shared_ptr<ControlConnection> owner_;

    // The transfer slot and the session's in-progress flag, given back once: before the final
    // reply, so that a client told of the end can start its next transfer at once. False when
    // they were given back before.
    bool Release();

private:

    std::atomic<bool>& activeFlag_;
    const bool holdsTransferSlot_;
    std::chrono::steady_clock::time_point startTime_;

    std::atomic<bool> started_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> released_{false};
    std::atomic<bool> limitOn_{false};
    std::atomic<std::uint32_t> limit_{0};
    std::atomic<std::uint64_t> bytesSincePause_{0};
    std::atomic<int> stallLimit_{0};
    std::atomic<bool> secured_{false};  // the handshake is done
    int helloTicks_ = 0;                // idle seconds of a connected peer that has not begun its handshake
    std::uint64_t bytesMoved_ = 0;  // the worker's own count, for the stall check
    std::uint64_t movedAtLastTick_ = 0;
    int stillTicks_ = 0;
};

}  // namespace tolvane::ftp
