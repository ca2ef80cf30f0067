#include "ftp/ListingSocket.h"

#include "ftp/ControlConnection.h"
#include "ftp/ListingLine.h"
#include "net/PlatformHelpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

// Lines are gathered into sends of about this size; a paced listing sends line by line.
constexpr std::size_t kSendChunk = 64 * 1024;

}  // namespace

ListingSocket::ListingSocket(std::shared_ptr<ControlConnection> owner, std::string directory, FileHandle folder,
                             ListingOptions options)
    : DataSocket(owner, owner->Data().ListingActiveFlag(), false),
      directory_(std::move(directory)),
      folder_(std::move(folder)),
      options_(std::move(options)) {}

ListingSocket::~ListingSocket() = default;

// A directory that cannot be read lists as empty.
bool ListingSocket::StartTransfer() {
    if (folder_) {
        const int fd = folder_.Release();
        entries_.reset(fdopendir(fd));
        if (!entries_) ::close(fd);
    }
    owner_->SystemMessage(owner_->Tag() + "Connected, Transfering List \"" + directory_ + "\" ...\r\n",
                          monitor::SystemMessage);
    MarkStarted();
    return true;
}

void ListingSocket::OnSend() {
    while (!finished_ && IsOpen()) {
        if (pendingSent_ == pending_.size() && !FillPending()) {
            Finish();
            return;
        }
        const net::IoResult sent = Send(pending_.data() + pendingSent_, pending_.size() - pendingSent_);
        if (sent.WouldBlock()) return;  // the rest goes on the next write event
        if (!sent.Moved()) {
            pendingSent_ = pending_.size();  // the client is gone: walk on to the replies
            continue;
        }
        pendingSent_ += sent.bytes;
        if (!Pace(sent.bytes)) return;
    }
}

bool ListingSocket::FillPending() {
    pending_.clear();
    pendingSent_ = 0;
    const std::size_t chunk = CurrentSpeedLimit().on ? 1 : kSendChunk;
    while (pending_.size() < chunk) {
        const std::optional<std::string> line = NextLine();
        if (!line) break;
        pending_ += *line;
    }
    return !pending_.empty();
}

// The next entry's line; entries that give no line are skipped. Nothing when the directory is
// exhausted.
std::optional<std::string> ListingSocket::NextLine() {
    while (entries_) {
        const dirent* entry = readdir(entries_.get());
        if (entry == nullptr) {
            entries_.reset();
            break;
        }
        const std::string name = entry->d_name;
        const int folder = dirfd(entries_.get());
        struct stat status {};
        if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        // A "*.lnk" link shows as a link; other links show as what they lead to.
        const bool shellLink = IsShellLinkName(name) && (S_ISLNK(status.st_mode) || S_ISREG(status.st_mode));
        if (S_ISLNK(status.st_mode) && !shellLink) fstatat(folder, name.c_str(), &status, 0);
        ListingEntry listed{name, !shellLink && S_ISDIR(status.st_mode), static_cast<std::int64_t>(status.st_size),
                            status.st_mtime, name.starts_with('.'), {}};
        if (shellLink) listed.linkTarget = net::ResolveShellLink(directory_ + name);
        if (auto line = FormatListingLine(listed, options_.hideHidden, options_.showRelativePath)) return line;
    }
    return std::nullopt;
}

void ListingSocket::Finish() {
    finished_ = true;
    if (!Release()) return Close();  // a time-out has answered already
    if (options_.ratio) {
        char text[256];
        std::snprintf(text, sizeof text, "226-Server is running ratio %i/%i, counting %s\r\n", options_.ratio->upload,
                      options_.ratio->download, options_.ratio->type.c_str());
        owner_->SendReply(text);
        owner_->SendReply("226-Current Credit is " + std::to_string(options_.credit) + "\r\n");
    }
    owner_->SendReply("226 Transfer complete.\r\n");
    owner_->SystemMessage(owner_->Tag() + "Closed, Transfering List successfull ...\r\n", monitor::SystemMessage);
    Close();
}

}  // namespace tolvane::ftp
