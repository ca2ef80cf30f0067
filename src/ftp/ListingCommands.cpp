#include "ftp/ControlConnection.h"

#include "ftp/FileSystem.h"
#include "ftp/ListingSocket.h"

#include <utility>

namespace tolvane::ftp {
namespace {

// What NLST puts before the names of a folder: the folder as the client named it.
std::string FolderPrefix(const std::string& path) {
    if (path == ".") return {};
    return path.ends_with('/') ? path : path + '/';
}

// "mget *.txt" in command-line clients sends NLST with the wildcard for the server to expand.
bool IsPattern(const std::string& name) { return name.find_first_of("*?[") != std::string::npos; }

}  // namespace

void ControlConnection::LIST(const CommandRequest& request) {
    StartListing(GivenArgument(request.argument), ListingFormat::Long);
}

void ControlConnection::NLST(const CommandRequest& request) {
    StartListing(GivenArgument(request.argument), ListingFormat::Names);
}

void ControlConnection::MLSD(const CommandRequest& request) {
    StartListing(GivenArgument(request.argument), ListingFormat::Facts);
}

// Without a path the working directory is listed under its own rights, as it always was.
void ControlConnection::StartListing(const std::string& argument, ListingFormat format) {
    // MLSD takes a path only; LIST and NLST take ls options before it.
    const std::string path = format == ListingFormat::Facts ? argument : WithoutOptions(argument);
    ListingOptions options{.hideHidden = login_.account.hideHidden,
                           .showRelativePath = showRelativePath_,
                           .ratio = std::nullopt,
                           .credit = Credit(),
                           .format = format};
    std::string folder = CurrentDirectory();
    if (path.empty()) {
        if (!permissions_.list) return RefusePermission();
        options.folderRights = permissions_;
    } else if (!ListingTarget(path, format, folder, options)) {
        return;
    }
    if (format == ListingFormat::Facts) {
        options.facts = mlstFacts_;
        options.rightsOf = FolderRightsSnapshot();
    }
    if (login_.account.ratioEnabled) options.ratio = Ratio();
    // The folder is opened now: what the client reaches by its data connection is what was checked.
    OpenedEntry opened = OpenListedFolder(folder);
    if (opened.denied) return RefusePermission();
    const auto makeSocket = [this, &folder, &opened, &options] {
        return std::make_shared<ListingSocket>(Self(), folder, std::move(opened.handle), std::move(options));
    };
    data_.StartTransfer({.kind = TransferKind::Listing,
                         .opening = "150 Opening ASCII data connection to bin/ls.\r\n",
                         .makeSocket = makeSocket});
}

// A folder is listed after the checks of a CWD to it and its own list right; a file (not for
// MLSD) as ls -l shows it, and the names a wildcard matches, with the list right of their folder.
// False when refused (answered).
bool ControlConnection::ListingTarget(const std::string& path, ListingFormat format, std::string& folder,
                                      ListingOptions& options) {
    const ResolvedDirectory named = Resolver().ResolveDirectory(path);
    const ResolvedDirectory reached = named.Refused() ? named : FolderReached(named.path);
    if (reached.refusal == PathRefusal::Outside) {
        RefusePermission();
        return false;
    }
    if (!reached.Refused()) {
        const PermissionSet rights = FolderPermissions(reached.path);
        if (rights.deny || !rights.list) {
            RefusePermission();
            return false;
        }
        folder = reached.path;
        options.folderRights = rights;
        options.namePrefix = FolderPrefix(path);
        return true;
    }
    const ResolvedEntry entry = ResolveName(path);
    if (entry.refusal == PathRefusal::Outside) {
        RefusePermission();
        return false;
    }
    const EntryKind kind = entry.Refused() ? EntryKind::None : LookupEntry(entry.directory, entry.name);
    const bool pattern =
        kind == EntryKind::None && !entry.Refused() && IsPattern(entry.name) && DirectoryExists(entry.directory);
    if (format == ListingFormat::Facts || (kind != EntryKind::File && !pattern)) {
        SendReply("550 No such file or directory found.\r\n");
        return false;
    }
    const PermissionSet rights = PermissionsOf(entry.directory);
    if (!rights.list) {
        RefusePermission();
        return false;
    }
    folder = entry.directory;
    (pattern ? options.pattern : options.onlyName) = entry.name;
    options.folderRights = rights;
    options.namePrefix = path.substr(0, path.rfind('/') + 1);
    return true;
}

// Leading words that begin with '-' are ls options, which change nothing here (-a does not
// show what HideHidden hides), unless an entry of that name is there: "LIST -la sub" lists
// sub, "LIST -x" a file named "-x".
std::string ControlConnection::WithoutOptions(std::string argument) const {
    while (argument.starts_with('-')) {
        const ResolvedEntry entry = ResolveName(argument);
        if (!entry.Refused() && LookupEntry(entry.directory, entry.name) != EntryKind::None) break;
        const std::size_t blank = argument.find(' ');
        const std::size_t next = blank == std::string::npos ? blank : argument.find_first_not_of(' ', blank);
        argument = next == std::string::npos ? std::string() : argument.substr(next);
    }
    return argument;
}

}  // namespace tolvane::ftp
