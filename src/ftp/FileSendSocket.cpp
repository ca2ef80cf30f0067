#include "ftp/FileSendSocket.h"

#include "ftp/ControlConnection.h"
#include "ftp/TransferProgress.h"

#include <sys/stat.h>

namespace tolvane::ftp {
namespace {

constexpr std::size_t kLargeBlock = 1024 * 1024;
constexpr std::size_t kPacedBlock = 1024;
// With a full send buffer of unsent data, each acknowledgement makes the kernel transmit more of
// it on the receiver's time; on loopback that made 200 clients' downloads take half as long again.
// A short queue leaves the sending to this thread.
constexpr int kUnsentLimit = 128 * 1024;

}  // namespace

FileSendSocket::FileSendSocket(std::shared_ptr<ControlConnection> owner, FileHandle file, std::string fileName,
                               std::int64_t restartOffset, std::shared_ptr<CreditReservation> credit)
    : DataSocket(owner, owner->Data().DownloadActiveFlag(), true),
      file_(std::move(file)),
      fileName_(std::move(fileName)),
      restartOffset_(restartOffset),
      credit_(std::move(credit)) {}

FileSendSocket::~FileSendSocket() = default;

bool FileSendSocket::StartTransfer() {
    struct stat status {};
    if (!file_ || fstat(file_.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        Finish(false);
        return false;
    }
    position_ = restartOffset_;
    totalLength_ = std::max<std::int64_t>(0, status.st_size - restartOffset_);
    owner_->SystemMessage(owner_->Tag() + "Connected, sending file \"" + fileName_ + "\" ...\r\n",
                          monitor::SystemMessage);
    owner_->Server().Registry().Transfers().InsertTop(
        RowKey(),
        {std::to_string(owner_->ConnectionNumber()), "Downloading", fileName_, "NA, yet", "NA, yet",
         owner_->ServerIpHome()});
    MarkStarted();
    return true;
}

void FileSendSocket::OnSend() {
    if (!unsentLimited_) {
        LimitUnsentBytes(kUnsentLimit);
        unsentLimited_ = true;
    }
    while (!done_.load() && !finished_.load() && IsOpen() && SendBlock()) {
    }
}

// Sends the next block; false when the loop must wait for a write event or has ended.
bool FileSendSocket::SendBlock() {
    const std::size_t block = NextBlockSize();
    if (block == 0) return EndAtCreditLimit();
    const net::IoResult sent = SendFile(file_.Get(), &position_, block);
    if (sent.status == net::IoStatus::Ended) {
        done_.store(true);
        UpdateProgress(true);
        Finish(true);
        return false;
    }
    if (!sent.Moved()) return false;  // would block, or the peer is gone and its close event follows
    Account(sent.bytes);
    UpdateProgress(false);
    return Pace(sent.bytes);
}

std::size_t FileSendSocket::NextBlockSize() const {
    const std::size_t block = CurrentSpeedLimit().on ? kPacedBlock : kLargeBlock;
    if (!credit_) return block;
    return static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(block),
                                                           credit_->BytesLeft(bytesSent_.load())));
}

// The credit taken at RETR is used up: the download is complete only if the file has no more.
bool FileSendSocket::EndAtCreditLimit() {
    struct stat status {};
    const bool complete = fstat(file_.Get(), &status) == 0 && status.st_size <= position_;
    done_.store(complete);
    UpdateProgress(true);
    Finish(complete);
    return false;
}

void FileSendSocket::Account(std::size_t sent) {
    bytesSent_.fetch_add(static_cast<std::int64_t>(sent));
    owner_->AddDownloadedBytes(sent);
}

void FileSendSocket::UpdateProgress(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastProgress_ < kProgressInterval) return;
    lastProgress_ = now;
    const std::int64_t sent = bytesSent_.load();
    auto& transfers = owner_->Server().Registry().Transfers();
    transfers.SetCell(RowKey(), monitor::TransferColumns::Speed, RateText(sent, SecondsRunning()));
    transfers.SetCell(RowKey(), monitor::TransferColumns::Status, DownloadStatusText(sent, totalLength_));
}

void FileSendSocket::Finish(bool success) {
    std::lock_guard lock(finishMutex_);
    FinishLocked(success);
}

void FileSendSocket::Abort() {
    std::lock_guard lock(finishMutex_);
    if (Active()) FinishLocked(done_.load());
}

void FileSendSocket::FinishLocked(bool success) {
    EndLocked(success ? "226 Transfer complete.\r\n" : "426 Data connection closed, transfer failed.\r\n", success);
}

void FileSendSocket::EndStalled(std::string_view reply) {
    std::lock_guard lock(finishMutex_);
    EndLocked(reply, false);
}

void FileSendSocket::EndLocked(std::string_view reply, bool success) {
    if (finished_.exchange(true)) return;
    if (credit_) credit_->Settle(bytesSent_.load());
    owner_->Server().Registry().Transfers().Remove(RowKey());
    Release();
    owner_->SendReply(reply);
    owner_->SystemMessage(owner_->Tag() + "Closed, sending file \"" + fileName_ + "\"" +
                              (success ? " successfull ...\r\n" : " failed ...\r\n"),
                          monitor::SystemMessage);
    Close();
}

void FileSendSocket::OnClose() { Finish(done_.load()); }

}  // namespace tolvane::ftp
