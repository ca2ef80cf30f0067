#include "ftp/FileReceiveSocket.h"

#include "ftp/ControlConnection.h"
#include "ftp/FileSystem.h"
#include "ftp/TransferProgress.h"

#include <cerrno>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

constexpr std::size_t kFirstBlock = 64 * 1024;
constexpr std::size_t kPacedBlock = 1024;

}  // namespace

FileReceiveSocket::FileReceiveSocket(std::shared_ptr<ControlConnection> owner, UploadTarget target,
                                     std::int64_t restartOffset, bool overwrite, RatioTerms ratio)
    : DataSocket(owner, owner->Data().UploadActiveFlag(), true),
      target_(std::move(target)),
      fileName_(target_.name),
      restartOffset_(restartOffset),
      overwrite_(overwrite),
      ratio_(std::move(ratio)) {}

FileReceiveSocket::~FileReceiveSocket() = default;

// A file is started anew, or written into, only now that the data connection is there.
bool FileReceiveSocket::OpenTarget() {
    file_ = target_.file ? std::move(target_.file) : CreateIn(target_.folder.Get(), target_.name, overwrite_);
    target_.folder = FileHandle{};
    if (!file_) return false;
    if (overwrite_ && ::ftruncate(file_.Get(), 0) != 0) return false;
    return restartOffset_ == 0 || ::lseek(file_.Get(), restartOffset_, SEEK_SET) >= 0;
}

void FileReceiveSocket::Log(const std::string& text) {
    owner_->Server().Log().AppendLine(owner_->Tag() + text, monitor::SystemMessage);
}

bool FileReceiveSocket::StartTransfer() {
    std::lock_guard lock(endMutex_);  // an ABOR ends a transfer that starts now after its start
    if (ended_) return false;          // aborted before the data connection came
    if (!OpenTarget()) {
        ended_ = true;
        owner_->SendReply("426 Data Connection closed,disk writing error, disk full ?.\r\n");
        Log("Closed, sending file \"" + fileName_ + "\" failed...\r\n");
        return false;
    }
    buffer_.emplace(CurrentSpeedLimit().on ? kPacedBlock : kFirstBlock);
    reservation_.emplace(file_.Get(), restartOffset_);
    Log("Connected, sending file \"" + fileName_ + "\" ...\r\n");
    owner_->Server().Registry().Transfers().InsertTop(
        RowKey(), {std::to_string(owner_->ConnectionNumber()), "Uploading", fileName_, "N/A", "NA, yet",
                           owner_->ServerIpHome()});
    MarkStarted();
    return true;
}

void FileReceiveSocket::OnReceive() {
    if ((!diskError_ && !ReceiveAvailable()) || senderFinished_) OnClose();
}

bool FileReceiveSocket::ReceiveAvailable() {
    if (!buffer_) return true;  // the transfer has not started
    for (;;) {
        const bool paced = CurrentSpeedLimit().on;
        const std::size_t block = paced ? std::min(kPacedBlock, buffer_->Size()) : buffer_->Size();
        const net::IoResult received = Receive(buffer_->Data(), block);
        if (received.status == net::IoStatus::Ended) senderFinished_ = true;
        if (!received.Moved()) return true;  // nothing more for now, or the end whose close event follows
        reservation_->Extend(received.bytes);
        if (!WriteAll(buffer_->Data(), received.bytes)) {
            diskError_ = true;
            return false;
        }
        if (!paced && received.bytes == block) buffer_->Grow();
        Account(received.bytes);
        UpdateProgress(false);
        if (!Pace(received.bytes)) return true;
    }
}

bool FileReceiveSocket::WriteAll(const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(file_.Get(), data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

void FileReceiveSocket::Account(std::size_t received) {
    bytesReceived_ += static_cast<std::int64_t>(received);
    owner_->AddUploadedBytes(received);
    if (ratio_.upload == 0) return;  // no share of nothing can be earned
    if (ratio_.CountsBytes()) {
        owner_->AdjustCredit(static_cast<std::int64_t>(static_cast<double>(received) * ratio_.download / ratio_.upload));
    } else if (!creditGiven_) {
        creditGiven_ = true;
        owner_->AdjustCredit(ratio_.download / ratio_.upload);
    }
}

void FileReceiveSocket::UpdateProgress(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastProgress_ < kProgressInterval) return;
    lastProgress_ = now;
    auto& transfers = owner_->Server().Registry().Transfers();
    const std::int64_t received = bytesReceived_.load();
    transfers.SetCell(RowKey(), monitor::TransferColumns::Speed, RateText(received, SecondsRunning()));
    transfers.SetCell(RowKey(), monitor::TransferColumns::Status, UploadStatusText(received));
}

bool FileReceiveSocket::EndOnce() {
    const bool first = !ended_;
    ended_ = true;
    return first;
}

void FileReceiveSocket::EndFailed(std::string_view reply) {
    Release();
    owner_->SendReply(reply);
    owner_->Server().Registry().Transfers().Remove(RowKey());
}

void FileReceiveSocket::CloseTransfer() {
    {
        std::lock_guard lock(endMutex_);
        if (EndOnce()) EndFailed("426 Data connection closed, transfer failed.\r\n");
    }
    Cancel();
}

void FileReceiveSocket::Abort() { EndStalled("426 Data connection closed, transfer failed.\r\n"); }

void FileReceiveSocket::EndStalled(std::string_view reply) {
    {
        std::lock_guard lock(endMutex_);
        if (!EndOnce()) return;
        EndFailed(reply);
        Log("Closed, sending file \"" + fileName_ + "\" failed...\r\n");
    }
    Cancel();
}

// The client has closed the data connection (or the file refused a write): take what is still
// on its way, then answer.
void FileReceiveSocket::OnClose() {
    std::lock_guard lock(endMutex_);
    // Without a start the data connection never came up; the worker's end answers 426.
    if (!buffer_ || !EndOnce()) {
        Close();
        return;
    }
    if (!diskError_ && !ReceiveAvailable()) diskError_ = true;
    reservation_->Release();
    UpdateProgress(true);
    Release();
    if (diskError_) {
        owner_->SendReply("426 Data Connection closed,disk writing error, disk full ?.\r\n");
        Log("Closed, sending file \"" + fileName_ + "\" failed...\r\n");
    } else {
        owner_->SendReply("226 Transfer complete.\r\n");
        Log("Connected, sending file \"" + fileName_ + "\" successfull...\r\n");
    }
    Close();
}

}  // namespace tolvane::ftp
