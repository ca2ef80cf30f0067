#include "ftp/ControlConnection.h"

#include "ftp/FileReceiveSocket.h"
#include "ftp/FileSystem.h"
#include "ftp/PassiveListenSocket.h"
#include "ftp/VerbMatch.h"
#include "store/ProgramSettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

// Size of a regular file, -1 when there is none.
std::int64_t FileSize(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return status.st_size;
}

}  // namespace

bool ControlConnection::TakeTransferSlot() {
    const int running = ipHome_->runningTransfers.fetch_add(1) + 1;
    if (ipHome_->transferLimit == -1 || running <= ipHome_->transferLimit) return true;
    GiveBackTransferSlot();
    SendReply("500 Max Transfers on server reached , try later.\r\n");
    return false;
}

void ControlConnection::GiveBackTransferSlot() { ipHome_->runningTransfers.fetch_sub(1); }

// The server-wide limit counts the transfers whose data connection is up, over all IP homes.
bool ControlConnection::ServerTransferLimitReached() {
    const int limit = store::ReadProgramSettings(server_->SettingsFile()).maximumTransfers;
    if (limit == -1 || static_cast<int>(server_->Registry().Transfers().Count()) < limit) return false;
    if (passiveMode_) ClosePassiveListener();
    SendReply("421 Too many file transfers in progress, please try later.\r\n");
    return true;
}

void ControlConnection::RETR(const std::string& argument) {
    if (!TakeTransferSlot()) return;
    const ResolvedEntry entry = ResolveName(argument);
    const auto refuse = [this](const char* reply) {
        GiveBackTransferSlot();
        SendReply(reply);
    };
    if (entry.refusal == PathRefusal::Outside || (!entry.Refused() && !PermissionsOf(TargetFolder(entry)).read))
        return refuse("550 Permission denied.\r\n");
    if (ipHome_->transferLimit != -1 &&
        static_cast<int>(server_->Registry().Transfers().Count()) >= ipHome_->transferLimit)
        return refuse("421 Maximum number of transfers on this server been reached.\r\n");
    if (entry.Refused() || LookupEntry(entry.directory, entry.name) != EntryKind::File)
        return refuse("550 File not found.\r\n");
    std::int64_t size = std::max<std::int64_t>(0, FileSize(entry.path));
    const std::int64_t offset = restart_.Pending() ? restart_.Offset() : 0;
    if (size < offset) return refuse("550 File is smaller than pointer position.\r\n");
    size -= offset;
    if (account_.ratioEnabled && (Ratio().CountsBytes() ? size > Credit() : Credit() == 0))
        return refuse("550 Not enough credit for downloading this file, sorry.\r\n");
    if (ServerTransferLimitReached() || !DataConnectionReady()) return GiveBackTransferSlot();

    auto socket = std::make_shared<FileSendSocket>(std::static_pointer_cast<ControlConnection>(shared_from_this()),
                                                   entry.path, offset, Ratio());
    if (!PrepareActiveSocket(socket)) return;  // the socket gives the slot back as it goes
    SendReply((passiveMode_ ? "150 Using open data connection for transfering file "
                            : "150 Binary data connection for transfering file ") +
              entry.name + ".\r\n");
    downloadedFiles_.fetch_add(1);
    downloadActive_.store(true);
    {
        std::lock_guard lock(dataMutex_);
        downloadSocket_ = socket;
    }
    ApplySpeedLimit(*socket, TransferKind::Sending);
    HandOver(socket);
}

void ControlConnection::STOR(const std::string& argument) {
    if (!TakeTransferSlot()) return;
    // A name with a drive is stored under its last component in the current directory.
    const std::string name = argument.find(':') == std::string::npos ? argument : argument.substr(argument.rfind('/') + 1);
    const ResolvedEntry entry = ResolveName(name);
    const auto refuse = [this](const char* reply) {
        GiveBackTransferSlot();
        SendReply(reply);
    };
    if (entry.refusal == PathRefusal::Outside || (!entry.Refused() && !PermissionsOf(TargetFolder(entry)).write))
        return refuse("550 Permission denied.\r\n");
    if (entry.Refused()) return refuse("553 File name not allowed.\r\n");
    const EntryKind existing = LookupEntry(entry.directory, entry.name);
    const bool restarting = restart_.Pending();
    if (restarting && existing != EntryKind::File) return refuse("550 Called REST for a file not found.\r\n");
    if (restarting && FileSize(entry.path) < restart_.Offset())
        return refuse("550 File is smaller than pointer position.\r\n");
    if (!restarting && !ipHome_->overwriteAllowed && existing == EntryKind::File)
        return refuse("500 File already exists, delete first.\r\n");
    if (ServerTransferLimitReached() || !DataConnectionReady()) return GiveBackTransferSlot();

    SendReply("150 Binary data connection for file " + name + ".\r\n");
    const std::int64_t offset = restarting ? restart_.Offset() : 0;
    auto socket = std::make_shared<FileReceiveSocket>(std::static_pointer_cast<ControlConnection>(shared_from_this()),
                                                      entry.path, offset, !restarting && ipHome_->overwriteAllowed,
                                                      Ratio());
    StartUpload(socket);
}

void ControlConnection::APPE(const std::string& argument) {
    if (!TakeTransferSlot()) return;
    const ResolvedEntry entry = ResolveName(argument);
    const auto refuse = [this](const char* reply) {
        GiveBackTransferSlot();
        SendReply(reply);
    };
    if (entry.refusal == PathRefusal::Outside || (!entry.Refused() && !PermissionsOf(TargetFolder(entry)).write))
        return refuse("550 Permission denied.\r\n");
    const bool isFile = !entry.Refused() && LookupEntry(entry.directory, entry.name) == EntryKind::File;
    if (restart_.Pending() && !isFile) return refuse("550 Called REST for a file not found.\r\n");
    const std::int64_t length = isFile ? FileSize(entry.path) : -1;
    if (length < 0) return refuse("550 Called APPE for a not existing file or file is busy.\r\n");
    if (ServerTransferLimitReached() || !DataConnectionReady()) return GiveBackTransferSlot();

    SendReply("150 Binary data connection for file " + argument + ".\r\n");
    StartUpload(std::make_shared<FileReceiveSocket>(std::static_pointer_cast<ControlConnection>(shared_from_this()),
                                                    entry.path, length, false, Ratio()));
}

void ControlConnection::StartUpload(const std::shared_ptr<FileReceiveSocket>& socket) {
    if (!PrepareActiveSocket(socket)) return;
    uploadedFiles_.fetch_add(1);
    uploadActive_.store(true);
    {
        std::lock_guard lock(dataMutex_);
        uploadSocket_ = socket;
    }
    ApplySpeedLimit(*socket, TransferKind::Receiving);
    HandOver(socket);
}

void ControlConnection::ABOR(const std::string&) {
    std::unique_lock lock(dataMutex_);
    const auto download = downloadSocket_.lock();
    const auto upload = uploadSocket_.lock();
    lock.unlock();
    if (download && SameVerb(previousVerb_, "RETR")) download->Abort(downloadActive_);
    if (upload && (SameVerb(previousVerb_, "STOR") || SameVerb(previousVerb_, "APPE")) && uploadActive_.load())
        upload->Abort();
    SendReply("226 ABOR command successful.\r\n");
}

}  // namespace tolvane::ftp
