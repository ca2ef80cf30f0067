#include "ftp/ControlConnection.h"

#include "ftp/FileSystem.h"
#include "ftp/PathResolver.h"
#include "net/PlatformHelpers.h"

namespace tolvane::ftp {

PathResolver ControlConnection::Resolver() const {
    return PathResolver(homeDirectory_, CurrentDirectory(), showRelativePath_);
}

std::string ControlConnection::CurrentDirectory() const {
    std::lock_guard lock(recordMutex_);
    return currentDirectory_;
}

void ControlConnection::SetCurrentDirectory(const std::string& directory) {
    std::lock_guard lock(recordMutex_);
    currentDirectory_ = directory;
}

void ControlConnection::CWD(const CommandRequest& request) {
    const ResolvedDirectory target = Resolver().ResolveDirectory(request.argument);
    if (target.refusal == PathRefusal::Outside) return RefusePermission();
    if (target.Refused()) {
        SendReply("550 Directory not found.\r\n");
        return;
    }
    EnterDirectory(target.path);
}

void ControlConnection::CDUP(const CommandRequest&) {
    const ResolvedDirectory parent = Resolver().Parent();
    if (parent.Refused()) return RefusePermission();
    EnterDirectory(parent.path);
}

// The folder a CWD to `candidate` enters: the folder itself, or where a "<name>.lnk" link beside
// it leads. Invalid when neither is there, Outside when the link leads where the session may
// not go.
ResolvedDirectory ControlConnection::FolderReached(const std::string& candidate) const {
    if (DirectoryExists(candidate)) return {PathRefusal::None, candidate};
    const std::string target = net::ResolveShellLink(candidate.substr(0, candidate.size() - 1) + ".lnk");
    if (target.empty()) return {PathRefusal::Invalid, {}};
    std::string linked = PathResolver::Normalise(net::LinkTargetToDirectory(target));
    if (!Resolver().Admits(linked)) return {PathRefusal::Outside, {}};
    return {PathRefusal::None, std::move(linked)};
}

// Moves into a directory, or through a "<name>.lnk" link beside it, when its rules allow.
void ControlConnection::EnterDirectory(const std::string& requested) {
    const ResolvedDirectory reached = FolderReached(requested);
    if (reached.refusal == PathRefusal::Outside) return RefusePermission();
    if (reached.Refused()) {
        SendReply("550 Directory not found.\r\n");
        return;
    }
    const std::string& candidate = reached.path;
    const PermissionSet permissions = FolderPermissions(candidate);
    if (permissions.deny) {
        RefusePermission();
        permissions_ = FolderPermissions(CurrentDirectory());
        return;
    }
    permissions_ = permissions;
    SetCurrentDirectory(candidate);
    server_->Registry().Connections().SetCell(RowKey(), monitor::ConnectionColumns::CurrentDir, candidate);
    SendReply("250 CWD command successfull.\r\n");
}

}  // namespace tolvane::ftp
