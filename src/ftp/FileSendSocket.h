#pragma once

#include "ftp/DataSocket.h"
#include "ftp/FileHandle.h"
#include "ftp/SessionCredit.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace tolvane::ftp {

// How a transfer counts against the account's ratio.
struct RatioTerms {
    std::string type;  // "Bytes per Session", "Files per Session", ...
    int download = 0;
    int upload = 0;

    bool CountsBytes() const { return type.find("Bytes") != std::string::npos; }
};

// Sends one file to the client (RETR).
class FileSendSocket : public DataSocket {
public:
    // `file` was opened by the command; `fileName` names it in the log. `credit`: what RETR took
    // from the session's credit; null without a ratio.
    FileSendSocket(std::shared_ptr<ControlConnection> owner, FileHandle file, std::string fileName,
                   std::int64_t restartOffset, std::shared_ptr<CreditReservation> credit);
    ~FileSendSocket() override;

    bool StartTransfer() override;
    // Reports the end of the download, once: 226 or 426, then closes.
    void Finish(bool success);
    // ABOR: ends the download with the reply its state calls for while it is active. An end
    // already under way completes first, so its reply reaches the client before ABOR's.
    void Abort() override;
    bool Done() const { return done_.load(); }
    void CloseTransfer() override { Finish(false); }
    std::int64_t BytesMoved() const override { return bytesSent_.load(); }
    void EndStalled(std::string_view reply) override;

protected:
    void OnSend() override;
    void OnClose() override;

private:
    bool SendBlock();
    std::size_t NextBlockSize() const;
    bool EndAtCreditLimit();
    void Account(std::size_t sent);
    void UpdateProgress(bool force);
    void FinishLocked(bool success);
    void EndLocked(std::string_view reply, bool success);

    const FileHandle file_;
    const std::string fileName_;
    const std::int64_t restartOffset_;
    const std::shared_ptr<CreditReservation> credit_;
    off_t position_ = 0;
    std::int64_t totalLength_ = 0;
    std::atomic<std::int64_t> bytesSent_{0};
    std::atomic<bool> done_{false};
    std::mutex finishMutex_;  // the worker and an ABOR on the session both end the download
    std::atomic<bool> finished_{false};
    bool unsentLimited_ = false;
    std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace tolvane::ftp
