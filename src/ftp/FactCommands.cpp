#include "ftp/ControlConnection.h"

#include "ftp/FileSystem.h"
#include "ftp/VerbMatch.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

namespace tolvane::ftp {
namespace {

// The status of a regular file, links followed.
std::optional<struct stat> RegularFileStatus(const ResolvedEntry& entry) {
    struct stat status {};
    if (entry.Refused() || LookupEntry(entry.directory, entry.name) != EntryKind::File ||
        stat(entry.path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return status;
}

// The time part of "MFMT <time> <path>" and of MDTM's setting form.
std::string_view TimePart(std::string_view argument) { return argument.substr(0, argument.find(' ')); }

FactEntry FactsOf(const struct stat& status, FactKind kind) {
    return {.kind = kind,
            .size = static_cast<std::int64_t>(status.st_size),
            .modified = status.st_mtime,
            .mode = status.st_mode,
            .device = status.st_dev,
            .inode = status.st_ino};
}

}  // namespace

// Sizes and times are shown to an account that may list, read or write in the folder the entry
// really lies in: a link counts where it leads, as for RETR.
bool ControlConnection::MaySee(const ResolvedEntry& entry) const {
    const std::string real = RealPath(entry.path);
    const PermissionSet rights = PermissionsOf(real.substr(0, real.rfind('/') + 1));
    return rights.list || rights.read || rights.write;
}

void ControlConnection::SIZE(const CommandRequest& request) {
    const ResolvedEntry entry = ResolveName(request.argument);
    if (entry.refusal == PathRefusal::Outside || (!entry.Refused() && !MaySee(entry))) return RefusePermission();
    const auto status = RegularFileStatus(entry);
    if (!status) return SendReply("550 File not found.\r\n");
    SendReply("213 " + std::to_string(status->st_size) + "\r\n");
}

// "MDTM <time> <path>" sets the time as MFMT does, unless the whole argument names a file.
void ControlConnection::MDTM(const CommandRequest& request) {
    const ResolvedEntry entry = ResolveName(request.argument);
    const bool namesEntry = !entry.Refused() && LookupEntry(entry.directory, entry.name) != EntryKind::None;
    if (!namesEntry && ParseUtcTimestamp(TimePart(request.argument)) && !TimedName(request.argument).empty()) {
        const auto rows = Commands();
        return Execute(*std::find_if(rows.begin(), rows.end(),
                                     [](const CommandRow& row) { return SameVerb(row.verb, "MFMT"); }),
                       request.argument);
    }
    if (entry.refusal == PathRefusal::Outside || (!entry.Refused() && !MaySee(entry))) return RefusePermission();
    const auto status = RegularFileStatus(entry);
    if (!status) return SendReply("550 File not found.\r\n");
    SendReply("213 " + UtcTimestamp(status->st_mtime) + "\r\n");
}

// The write right of the file's folder was checked before.
void ControlConnection::MFMT(const CommandRequest& request) {
    const auto when = ParseUtcTimestamp(TimePart(request.argument));
    if (!when || request.name.empty()) return SendReply("501 Syntax error in parameters or arguments.\r\n");
    if (!RegularFileStatus(request.entry)) return SendReply("550 File not found.\r\n");
    const timespec times[2] = {{0, UTIME_OMIT}, {*when, 0}};
    if (utimensat(AT_FDCWD, request.entry.path.c_str(), times, 0) != 0)
        return SendReply("550 Could not set the modification time.\r\n");
    SendReply("213 Modify=" + UtcTimestamp(*when) + "; " + request.name + "\r\n");
}

// The facts of one entry on the control connection; without a path, of the working directory.
void ControlConnection::MLST(const CommandRequest& request) {
    std::string shown = GivenArgument(request.argument);
    std::string path = CurrentDirectory();
    FactKind kind = FactKind::CurrentDirectory;
    PermissionSet holder;
    PermissionSet own = permissions_;
    if (!shown.empty()) {
        const ResolvedDirectory named = Resolver().ResolveDirectory(shown);
        const ResolvedEntry entry = ResolveName(shown);
        if (named.refusal == PathRefusal::Outside || entry.refusal == PathRefusal::Outside) return RefusePermission();
        const bool isFolder = !named.Refused() && DirectoryExists(named.path);
        const bool isFile = !isFolder && !entry.Refused() && LookupEntry(entry.directory, entry.name) == EntryKind::File;
        if (!entry.Refused() && !MaySee(entry)) return RefusePermission();
        if (!isFolder && !isFile) return SendReply("550 No such file or directory found.\r\n");
        kind = isFolder ? FactKind::Directory : FactKind::File;
        path = isFolder ? named.path : entry.path;
        holder = entry.Refused() ? PermissionSet{} : PermissionsOf(entry.directory);
        own = isFolder ? FolderPermissions(named.path) : PermissionSet{};
    } else {
        shown = CurrentClientPath();
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return SendReply("550 No such file or directory found.\r\n");
    FactEntry facts = FactsOf(status, kind);
    facts.holder = holder;
    facts.own = own;
    SendReply("250- Listing " + shown + "\r\n " + FactsText(facts, mlstFacts_) + shown + "\r\n250 End.\r\n");
}

}  // namespace tolvane::ftp
