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

// Moves into a directory, or through a "<name>.lnk" link beside it, when its rules allow.
void ControlConnection::EnterDirectory(std::string candidate) {
    if (!DirectoryExists(candidate)) {
        const std::string target = net::ResolveShellLink(candidate.substr(0, candidate.size() - 1) + ".lnk");
        if (target.empty()) {
            SendReply("550 Directory not found.\r\n");
            return;
        }
        candidate = PathResolver::Normalise(net::LinkTargetToDirectory(target));
        if (!Resolver().Admits(candidate)) return RefusePermission();
    }
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
