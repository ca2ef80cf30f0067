#include "ftp/ListingSocket.h"

#include "ftp/ControlConnection.h"
#include "ftp/ListingLine.h"
#include "ftp/MachineFacts.h"
#include "net/PlatformHelpers.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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
    now_ = std::time(nullptr);
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
        const std::optional<std::string> name = NextName();
        if (!name) {
            entries_.reset();
            break;
        }
        if (auto line = LineFor(*name)) return line;
    }
    return std::nullopt;
}

// The folder's next name (that matches the pattern, when there is one), or the one entry asked
// for. As in a shell, a wildcard does not match a leading dot.
std::optional<std::string> ListingSocket::NextName() {
    if (!options_.onlyName.empty()) {
        if (std::exchange(onlyNameGiven_, true)) return std::nullopt;
        return options_.onlyName;
    }
    for (const dirent* entry = readdir(entries_.get()); entry != nullptr; entry = readdir(entries_.get())) {
        if (options_.pattern.empty() || fnmatch(options_.pattern.c_str(), entry->d_name, FNM_PERIOD) == 0)
            return entry->d_name;
    }
    return std::nullopt;
}

std::optional<std::string> ListingSocket::LineFor(const std::string& name) {
    const int folder = dirfd(entries_.get());
    struct stat status {};
    if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    // A "*.lnk" link shows as a link; other links show as what they lead to.
    const bool shellLink = IsShellLinkName(name) && (S_ISLNK(status.st_mode) || S_ISREG(status.st_mode));
    if (S_ISLNK(status.st_mode) && !shellLink) fstatat(folder, name.c_str(), &status, 0);
    // As ls does, a time after the one taken at the start is checked against the clock again.
    if (status.st_mtime > now_) now_ = std::time(nullptr);
    ListingEntry listed{name, !shellLink && S_ISDIR(status.st_mode), static_cast<std::int64_t>(status.st_size),
                        status.st_mtime, name.starts_with('.'), {}, status.st_mode};
    switch (options_.format) {
    case ListingFormat::Long:
        if (shellLink && Listable(listed, options_.hideHidden))
            listed.linkTarget = net::ResolveShellLink(directory_ + name);
        return FormatListingLine(listed, options_.hideHidden, options_.showRelativePath, now_);
    case ListingFormat::Names: return FormatNameLine(listed, options_.hideHidden, options_.showRelativePath,
                                                     options_.namePrefix);
    case ListingFormat::Facts: break;
    }
    return FactsLine(name, status, listed);
}

// The listed folder itself shows as "cdir"; its parent, which may lie outside the home, not at
// all. A relative session sees no shell links, as in its LIST.
std::optional<std::string> ListingSocket::FactsLine(const std::string& name, const struct stat& status,
                                                    const ListingEntry& listed) const {
    const bool current = name == "." && options_.onlyName.empty();
    if (!current && !Listable(listed, options_.hideHidden)) return std::nullopt;
    if (options_.showRelativePath && !listed.isDirectory && IsShellLinkName(name)) return std::nullopt;
    FactEntry facts{.kind = current              ? FactKind::CurrentDirectory
                            : listed.isDirectory ? FactKind::Directory
                                                 : FactKind::File,
                    .size = listed.size,
                    .modified = listed.modified,
                    .mode = status.st_mode,
                    .device = status.st_dev,
                    .inode = status.st_ino,
                    .holder = options_.folderRights,
                    .own = options_.folderRights};
    if (facts.kind == FactKind::Directory && options_.rightsOf) facts.own = options_.rightsOf(directory_ + name + "/");
    return FactsText(facts, options_.facts) + name + "\r\n";
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
