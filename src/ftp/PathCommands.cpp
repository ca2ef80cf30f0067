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

void ControlConnection::CWD(const std::string& argument) {
    const ResolvedDirectory target = Resolver().ResolveDirectory(argument);
    if (target.refusal == PathRefusal::Outside) {
        SendReply("550 Permission denied.\r\n");
        return;
    }
    if (target.Refused()) {
        SendReply("550 Directory not found.\r\n");
        return;
    }
    EnterDirectory(target.path);
}

void ControlConnection::CDUP(const std::string&) {
    const ResolvedDirectory parent = Resolver().Parent();
    if (parent.Refused()) {
        SendReply("550 Permission denied.\r\n");
        return;
    }
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
        if (!Resolver().Admits(candidate)) {
            SendReply("550 Permission denied.\r\n");
            return;
        }
    }
    const PermissionSet permissions = FolderPermissions(candidate);
    if (permissions.deny) {
        SendReply("550 Permission denied.\r\n");
        permissions_ = FolderPermissions(CurrentDirectory());
        return;
    }
    permissions_ = permissions;
    SetCurrentDirectory(candidate);
    server_->Registry().Connections().SetCell(weak_from_this(), monitor::ConnectionColumns::CurrentDir, candidate);
    SendReply("250 CWD command successfull.\r\n");
}

}  // namespace tolvane::ftp
