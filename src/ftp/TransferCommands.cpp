#include "ftp/ControlConnection.h"

#include "ftp/FileReceiveSocket.h"
#include "ftp/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

// Size of an open regular file, -1 when there is none.
std::int64_t FileSize(const FileHandle& file) {
    struct stat status {};
    if (!file || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return status.st_size;
}

}  // namespace

// Opens what a command names now and judges `letter` where the opened entry really lies: a
// file by the rules of its folder, a folder by its own. Whatever happens to the name later,
// the transfer uses what was checked.
OpenedEntry ControlConnection::OpenChecked(const std::string& path, bool folder, bool PermissionSet::*letter,
                                           int flags) const {
    const FileHandle reference = OpenReference(path, folder);
    if (!reference) return {};
    const std::string real = DescriptorPath(reference.Get());
    const PermissionSet permissions = real.empty() ? PermissionSet{} : PermissionsOf(real.substr(0, real.rfind('/') + 1));
    if (!(permissions.*letter)) return {FileHandle{}, true};
    return {Reopen(reference.Get(), flags)};
}

OpenedEntry ControlConnection::OpenListedFolder(const std::string& folder) const {
    return OpenChecked(folder, true, &PermissionSet::list, O_RDONLY | O_DIRECTORY | O_NONBLOCK);
}

// The transfer slot is taken and the rule letter checked before these handlers run.
void ControlConnection::RETR(const CommandRequest& request) {
    const ResolvedEntry& entry = request.entry;
    if (ipHome_->transferLimit != -1 &&
        static_cast<int>(server_->Registry().Transfers().Count()) >= ipHome_->transferLimit)
        return RefuseTransfer("421 Maximum number of transfers on this server been reached.\r\n");
    if (entry.Refused() || LookupEntry(entry.directory, entry.name) != EntryKind::File)
        return RefuseTransfer("550 File not found.\r\n");
    OpenedEntry file = OpenChecked(entry.path, false, &PermissionSet::read, O_RDONLY | O_NONBLOCK);
    if (file.denied) return RefuseTransfer("550 Permission denied.\r\n");
    if (!file.handle) return RefuseTransfer("550 File not found.\r\n");
    const std::int64_t size = FileSize(file.handle);
    const std::int64_t offset = restart_.Pending() ? restart_.Offset() : 0;
    if (size < offset) return RefuseTransfer("550 File is smaller than pointer position.\r\n");
    // Taken now, against the size RETR saw; a download that would send more ends with 426.
    auto credit = ReserveCredit(size - offset);
    if (!credit) return RefuseTransfer("550 Not enough credit for downloading this file, sorry.\r\n");

    auto opened = std::make_shared<FileHandle>(std::move(file.handle));
    data_.StartTransfer({.kind = TransferKind::Sending,
                         .opening = (data_.Passive() ? "150 Using open data connection for transfering file "
                                                     : "150 Binary data connection for transfering file ") +
                                    entry.name + ".\r\n",
                         .openingAfterSocket = true,
                         .makeSocket =
                             [this, opened, &entry, offset, reservation = *credit] {
                                 return std::make_shared<FileSendSocket>(Self(), std::move(*opened), entry.name,
                                                                         offset, reservation);
                             },
                         .fileCount = &downloadedFiles_});
}

// An existing file is opened now; a new one is made in the folder opened now, once the data
// connection is there.
OpenedEntry ControlConnection::OpenUploadTarget(const ResolvedEntry& entry, UploadTarget& target) const {
    target.name = entry.name;
    OpenedEntry file = OpenChecked(entry.path, false, &PermissionSet::write, O_WRONLY | O_NONBLOCK);
    if (file.handle || file.denied) return file;
    return OpenChecked(entry.directory, true, &PermissionSet::write, O_PATH | O_DIRECTORY);
}

void ControlConnection::STOR(const CommandRequest& request) {
    const ResolvedEntry& entry = request.entry;
    if (entry.Refused()) return RefuseTransfer("553 File name not allowed.\r\n");
    UploadTarget target;
    OpenedEntry opened = OpenUploadTarget(entry, target);
    if (opened.denied) return RefuseTransfer("550 Permission denied.\r\n");
    const std::int64_t size = FileSize(opened.handle);
    (size >= 0 ? target.file : target.folder) = std::move(opened.handle);
    const bool restarting = restart_.Pending();
    if (restarting && !target.file) return RefuseTransfer("550 Called REST for a file not found.\r\n");
    if (restarting && size < restart_.Offset()) return RefuseTransfer("550 File is smaller than pointer position.\r\n");
    // Without overwrite rights a restart may only resume the upload where the file ends.
    if (!ipHome_->overwriteAllowed && target.file && (!restarting || size != restart_.Offset()))
        return RefuseTransfer("500 File already exists, delete first.\r\n");
    if (!target.file && !target.folder) return RefuseTransfer("553 File name not allowed.\r\n");

    const std::int64_t offset = restarting ? restart_.Offset() : 0;
    const bool overwrite = !restarting && ipHome_->overwriteAllowed;
    StartUpload("150 Binary data connection for file " + request.name + ".\r\n", std::move(target), offset,
                overwrite);
}

void ControlConnection::APPE(const CommandRequest& request) {
    const ResolvedEntry& entry = request.entry;
    const bool isFile = !entry.Refused() && LookupEntry(entry.directory, entry.name) == EntryKind::File;
    if (restart_.Pending() && !isFile) return RefuseTransfer("550 Called REST for a file not found.\r\n");
    OpenedEntry file = isFile ? OpenChecked(entry.path, false, &PermissionSet::write, O_WRONLY | O_NONBLOCK)
                              : OpenedEntry{};
    if (file.denied) return RefuseTransfer("550 Permission denied.\r\n");
    const std::int64_t length = FileSize(file.handle);
    if (length < 0) return RefuseTransfer("550 Called APPE for a not existing file or file is busy.\r\n");

    StartUpload("150 Binary data connection for file " + request.argument + ".\r\n",
                UploadTarget{std::move(file.handle), {}, entry.name}, length, false);
}

void ControlConnection::StartUpload(std::string opening, UploadTarget target, std::int64_t offset, bool overwrite) {
    auto held = std::make_shared<UploadTarget>(std::move(target));
    data_.StartTransfer({.kind = TransferKind::Receiving,
                         .opening = std::move(opening),
                         .makeSocket =
                             [this, held, offset, overwrite] {
                                 return std::make_shared<FileReceiveSocket>(Self(), std::move(*held), offset,
                                                                            overwrite, Ratio());
                             },
                         .fileCount = &uploadedFiles_});
}

void ControlConnection::ABOR(const CommandRequest&) {
    data_.Abort(previousVerb_);
    SendReply("226 ABOR command successful.\r\n");
}

}  // namespace tolvane::ftp
