#include "ftp/ControlConnection.h"

#include "ftp/FileReceiveSocket.h"
#include "ftp/FileSystem.h"

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

// What a download of the entry RETR resolved would send from its start.
std::int64_t DownloadSize(const ResolvedEntry& entry) { return std::max<std::int64_t>(0, FileSize(entry.path)); }

}  // namespace

// The transfer slot is taken and the rule letter checked before these handlers run.
void ControlConnection::RETR(const CommandRequest& request) {
    const ResolvedEntry& entry = request.entry;
    if (ipHome_->transferLimit != -1 &&
        static_cast<int>(server_->Registry().Transfers().Count()) >= ipHome_->transferLimit)
        return RefuseTransfer("421 Maximum number of transfers on this server been reached.\r\n");
    if (entry.Refused() || LookupEntry(entry.directory, entry.name) != EntryKind::File)
        return RefuseTransfer("550 File not found.\r\n");
    const std::int64_t size = DownloadSize(entry);
    const std::int64_t offset = restart_.Pending() ? restart_.Offset() : 0;
    if (size < offset) return RefuseTransfer("550 File is smaller than pointer position.\r\n");
    // Taken now, against the size RETR saw; a download that would send more ends with 426.
    auto credit = ReserveCredit(size - offset);
    if (!credit) return RefuseTransfer("550 Not enough credit for downloading this file, sorry.\r\n");

    data_.StartTransfer({.kind = TransferKind::Sending,
                         .opening = (data_.Passive() ? "150 Using open data connection for transfering file "
                                                     : "150 Binary data connection for transfering file ") +
                                    entry.name + ".\r\n",
                         .openingAfterSocket = true,
                         .makeSocket =
                             [this, &entry, offset, reservation = *credit] {
                                 return std::make_shared<FileSendSocket>(Self(), entry.path, offset, reservation);
                             },
                         .fileCount = &downloadedFiles_});
}

void ControlConnection::STOR(const CommandRequest& request) {
    const ResolvedEntry& entry = request.entry;
    if (entry.Refused()) return RefuseTransfer("553 File name not allowed.\r\n");
    const EntryKind existing = LookupEntry(entry.directory, entry.name);
    const bool restarting = restart_.Pending();
    if (restarting && existing != EntryKind::File) return RefuseTransfer("550 Called REST for a file not found.\r\n");
    if (restarting && FileSize(entry.path) < restart_.Offset())
        return RefuseTransfer("550 File is smaller than pointer position.\r\n");
    if (!restarting && !ipHome_->overwriteAllowed && existing == EntryKind::File)
        return RefuseTransfer("500 File already exists, delete first.\r\n");

    const std::int64_t offset = restarting ? restart_.Offset() : 0;
    const bool overwrite = !restarting && ipHome_->overwriteAllowed;
    StartUpload("150 Binary data connection for file " + request.name + ".\r\n", entry.path, offset, overwrite);
}

void ControlConnection::APPE(const CommandRequest& request) {
    const ResolvedEntry& entry = request.entry;
    const bool isFile = !entry.Refused() && LookupEntry(entry.directory, entry.name) == EntryKind::File;
    if (restart_.Pending() && !isFile) return RefuseTransfer("550 Called REST for a file not found.\r\n");
    const std::int64_t length = isFile ? FileSize(entry.path) : -1;
    if (length < 0) return RefuseTransfer("550 Called APPE for a not existing file or file is busy.\r\n");

    StartUpload("150 Binary data connection for file " + request.argument + ".\r\n", entry.path, length, false);
}

void ControlConnection::StartUpload(std::string opening, const std::string& path, std::int64_t offset, bool overwrite) {
    data_.StartTransfer({.kind = TransferKind::Receiving,
                         .opening = std::move(opening),
                         .makeSocket =
                             [this, &path, offset, overwrite] {
                                 return std::make_shared<FileReceiveSocket>(Self(), path, offset, overwrite, Ratio());
                             },
                         .fileCount = &uploadedFiles_});
}

void ControlConnection::ABOR(const CommandRequest&) {
    data_.Abort(previousVerb_);
    SendReply("226 ABOR command successful.\r\n");
}

}  // namespace tolvane::ftp
