#include "ftp/FileReceiveSocket.h"

#include "ftp/ControlConnection.h"
#include "ftp/TransferProgress.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

constexpr std::size_t kFirstBlock = 64 * 1024;
constexpr std::size_t kPacedBlock = 1024;

}  // namespace

FileReceiveSocket::FileReceiveSocket(std::shared_ptr<ControlConnection> owner, std::string filePath,
                                     std::int64_t restartOffset, bool overwrite, RatioTerms ratio)
    : DataSocket(owner, owner->Data().UploadActiveFlag(), true),
      filePath_(std::move(filePath)),
      fileName_(filePath_.substr(filePath_.rfind('/') + 1)),
      restartOffset_(restartOffset),
      overwrite_(overwrite),
      ratio_(std::move(ratio)) {}

FileReceiveSocket::~FileReceiveSocket() {
    if (fileFd_ >= 0) ::close(fileFd_);
}

void FileReceiveSocket::Log(const std::string& text) {
    owner_->Server().Log().AppendLine(owner_->Tag() + text, monitor::SystemMessage);
}

bool FileReceiveSocket::StartTransfer() {
    const int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | (overwrite_ ? O_TRUNC : 0);
    fileFd_ = ::open(filePath_.c_str(), flags, 0644);
    if (fileFd_ < 0 || (restartOffset_ != 0 && ::lseek(fileFd_, restartOffset_, SEEK_SET) < 0)) {
        owner_->SendReply("426 Data Connection closed,disk writing error, disk full ?.\r\n");
        Log("Closed, sending file \"" + fileName_ + "\" failed...\r\n");
        return false;
    }
    buffer_.emplace(CurrentSpeedLimit().on ? kPacedBlock : kFirstBlock);
    Log("Connected, sending file \"" + fileName_ + "\" ...\r\n");
    owner_->Server().Registry().Transfers().InsertTop(
        RowKey(), {std::to_string(owner_->ConnectionNumber()), "Uploading", fileName_, "N/A", "NA, yet",
                           owner_->ServerIpHome()});
    MarkStarted();
    return true;
}

void FileReceiveSocket::OnReceive() {
    if (!diskError_ && !ReceiveAvailable()) OnClose();
}

bool FileReceiveSocket::ReceiveAvailable() {
    if (!buffer_) return true;  // the transfer has not started
    for (;;) {
        const bool paced = CurrentSpeedLimit().on;
        const std::size_t block = paced ? std::min(kPacedBlock, buffer_->Size()) : buffer_->Size();
        const net::IoResult received = Receive(buffer_->Data(), block);
        if (!received.Moved()) return true;  // nothing more for now, or the end whose close event follows
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
        const ssize_t written = ::write(fileFd_, data, length);
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

void FileReceiveSocket::CloseTransfer() {
    Release();
    owner_->SendReply("426 Data connection closed, transfer failed.\r\n");
    owner_->Server().Registry().Transfers().Remove(RowKey());
    Cancel();
}

// The client has closed the data connection (or the file refused a write): take what is still
// on its way, then answer.
void FileReceiveSocket::OnClose() {
    // Without a start the data connection never came up; the worker's end answers 426.
    if (aborted_.load() || !buffer_) {
        Close();
        return;
    }
    if (!diskError_ && !ReceiveAvailable()) diskError_ = true;
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
