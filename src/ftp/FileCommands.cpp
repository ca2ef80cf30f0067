#include "ftp/ControlConnection.h"

#include "ftp/FileSystem.h"
#include "ftp/PathResolver.h"
#include "store/DirectoryRules.h"

namespace tolvane::ftp {

// The permissions of the directory that holds a named entry: the session's own set for its
// current directory, the rules of the other directory otherwise. A denied directory grants
// nothing.
PermissionSet ControlConnection::PermissionsOf(const std::string& directory) const {
    const PermissionSet permissions =
        directory == CurrentDirectory() ? permissions_ : FolderPermissions(directory);
    return permissions.deny ? PermissionSet{} : permissions;
}

// The rules judge a folder where it really lies, links followed, so that a link planted inside
// a home cannot lend the home's rights to what lies outside it. Rule paths are followed too: a
// root reached through a link keeps its own rules.
PermissionSet ControlConnection::FolderPermissions(const std::string& folder) const {
    return JudgeFolder(login_.AccessingRules(), homeDirectory_, showRelativePath_, folder);
}

// The same judgement from a copy of what it needs, for a listing that runs on its own worker.
std::function<PermissionSet(const std::string& folder)> ControlConnection::FolderRightsSnapshot() const {
    return [rules = login_.AccessingRules(), home = homeDirectory_, relative = showRelativePath_](
               const std::string& folder) { return JudgeFolder(rules, home, relative, folder); };
}

PermissionSet ControlConnection::JudgeFolder(std::vector<std::string> rules, const std::string& homeDirectory,
                                             bool relative, const std::string& folder) {
    // The folder, the home and the rule paths are often one and the same.
    std::vector<std::pair<std::string, std::string>> resolved;
    const auto realPathOf = [&resolved](const std::string& path) {
        for (const auto& [given, real] : resolved)
            if (given == path) return real;
        return resolved.emplace_back(path, RealPath(path)).second;
    };
    const std::string real = realPathOf(folder);
    if (real.empty()) return DefaultPermissions();
    if (relative) {
        const std::string home = realPathOf(homeDirectory);
        if (home.empty() || !(real.ends_with('/') ? real : real + '/').starts_with(home)) return DefaultPermissions();
    }
    for (std::string& text : rules) {
        const store::AccessingRule rule = store::ParseAccessingRule(text);
        // A text without a comma has no letters part to keep beside a followed path.
        if (rule.path.empty() || rule.path == text) continue;
        const std::string rulePath = realPathOf(PathResolver::Normalise(rule.path + "/"));
        if (!rulePath.empty()) text = rulePath + ',' + rule.letters;
    }
    return ComputePermissions(rules, real);
}

ResolvedEntry ControlConnection::ResolveName(const std::string& argument) const {
    return Resolver().ResolveEntry(argument);
}

void ControlConnection::DELE(const CommandRequest& request) {
    const ResolvedEntry& entry = request.entry;
    if (entry.Refused() || LookupEntry(entry.directory, entry.name) != EntryKind::File) {
        SendReply("550 Specified file not found.\r\n");
    } else if (DeleteFile(entry.path)) {
        SendReply("250 Delete command successfull.\r\n");
    } else {
        SendReply("500 Could not delete file.\r\n");
    }
}

void ControlConnection::MKD(const CommandRequest& request) {
    const ResolvedEntry& entry = request.entry;
    if (!entry.Refused() && MakeDirectory(entry.path)) {
        SendReply("257 Directory \"" + request.argument + "\" has been created.\r\n");
    } else {
        // Clients take 500 for a syntax error and give up; a name that is there already is 550.
        const bool exists = !entry.Refused() && LookupEntry(entry.directory, entry.name) != EntryKind::None;
        SendReply((exists ? "550" : "500") + std::string(" Failed to create directory \"") + request.argument +
                  "\"\r\n");
    }
}

void ControlConnection::RMD(const CommandRequest& request) {
    const ResolvedEntry& entry = request.entry;
    if (entry.Refused() || LookupEntry(entry.directory, entry.name) != EntryKind::Directory) {
        SendReply("550 Specified directory not found.\r\n");
    } else if (RemoveDirectory(entry.path)) {
        SendReply("250 RMD command successfull.\r\n");
    } else {
        SendReply("500 Could not delete directory.\r\n");
    }
}

void ControlConnection::RNFR(const CommandRequest& request) {
    const ResolvedEntry entry = ResolveName(request.argument);
    if (entry.refusal == PathRefusal::Outside) return RefusePermission();
    const EntryKind kind = entry.Refused() ? EntryKind::None : LookupEntry(entry.directory, entry.name);
    if (kind == EntryKind::None) {
        SendReply("550 No such file or directory found.\r\n");
        return;
    }
    const bool isFile = kind == EntryKind::File;
    const PermissionSet permissions = PermissionsOf(entry.directory);
    if (isFile ? !permissions.renameFile : !permissions.renameDirectory) return RefusePermission();
    // The source is fixed now, with the rules that allowed it; a later CWD does not change it.
    renameIsFile_ = isFile;
    renamePending_ = true;
    renameSource_ = entry.path;
    SendReply(isFile ? "350 File found, ready for destination.\r\n" : "350 Directory found, ready for destination.\r\n");
}

// The letter depends on what RNFR found, so this check stays here.
void ControlConnection::RNTO(const CommandRequest& request) {
    const ResolvedEntry entry = ResolveName(request.argument);
    const PermissionSet permissions = entry.Refused() ? PermissionSet{} : PermissionsOf(entry.directory);
    if (entry.refusal == PathRefusal::Outside ||
        (!entry.Refused() && (renameIsFile_ ? !permissions.renameFile : !permissions.renameDirectory)))
        return RefusePermission();
    if (!renamePending_) {
        SendReply("550 Call RNFR before using this command.\r\n");
        return;
    }
    renamePending_ = false;
    if (!entry.Refused() && RenameEntry(renameSource_, entry.path)) {
        SendReply("250 RNTO command succesful.\r\n");
    } else {
        SendReply("550 Could not rename file or directory.\r\n");
    }
}

}  // namespace tolvane::ftp
