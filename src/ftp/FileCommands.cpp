#include "ftp/ControlConnection.h"

#include "ftp/FileSystem.h"
#include "ftp/PathResolver.h"
#include "net/AsciiText.h"
#include "store/DirectoryRules.h"

#include <utility>

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
    RealPaths realPaths;
    const std::string real = realPaths.Of(folder);
    if (real.empty()) return DefaultPermissions();
    // In relative mode nothing outside the home has rights.
    if (relative) {
        const std::string home = realPaths.Of(homeDirectory);
        if (home.empty() || !(real.ends_with('/') ? real : real + '/').starts_with(home)) return DefaultPermissions();
    }
    return ComputePermissions(RealRules(std::move(rules), realPaths), real);
}

// The folder, the home and the rule paths are often one and the same: each is resolved once.
std::string ControlConnection::RealPaths::Of(const std::string& path) {
    for (const auto& [given, real] : resolved_)
        if (given == path) return real;
    return resolved_.emplace_back(path, RealPath(path)).second;
}

// The account's rule texts with each path where it really lies.
std::vector<std::string> ControlConnection::RealRules(std::vector<std::string> rules, RealPaths& realPaths) {
    for (std::string& text : rules) {
        const store::AccessingRule rule = store::ParseAccessingRule(text);
        // A text without a comma has no letters part to keep beside a followed path.
        if (rule.path.empty() || rule.path == text) continue;
        const std::string rulePath = realPaths.Of(PathResolver::Normalise(rule.path + "/"));
        if (!rulePath.empty()) text = rulePath + ',' + rule.letters;
    }
    return rules;
}

// A folder keeps the rules that name it or anything below it only if they would say the same
// at its new place; otherwise a rename would carry denied or read-only content out from under
// its rule.
bool ControlConnection::RenameKeepsRules(const std::string& source, const std::string& target) const {
    RealPaths realPaths;
    const std::string from = realPaths.Of(PathResolver::Normalise(source + "/"));
    const std::string to = realPaths.Of(PathResolver::Normalise(target + "/"));
    if (from.empty() || to.empty()) return false;
    const std::vector<std::string> rules = RealRules(login_.AccessingRules(), realPaths);
    for (const std::string& text : rules) {
        const std::string rulePath = PathResolver::Normalise(store::ParseAccessingRule(text).path + "/");
        if (!net::BeginsIgnoringAsciiCase(rulePath, from)) continue;
        const std::string moved = to + rulePath.substr(from.size());
        if (ComputePermissions(rules, rulePath) != ComputePermissions(rules, moved)) return false;
    }
    return true;
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

// Every RNFR and every RNTO ends the rename pending before it, refused or not.
void ControlConnection::RNFR(const CommandRequest& request) {
    renamePending_ = false;
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

// The letter depends on what RNFR found, so this check stays here. The target's folder is
// judged where it really lies, as for STOR.
void ControlConnection::RNTO(const CommandRequest& request) {
    const bool pending = std::exchange(renamePending_, false);
    const ResolvedEntry entry = ResolveName(request.argument);
    const PermissionSet permissions = entry.Refused() ? PermissionSet{} : PermissionsOf(RealFolderOf(entry.path));
    if (entry.refusal == PathRefusal::Outside ||
        (!entry.Refused() && (renameIsFile_ ? !permissions.renameFile : !permissions.renameDirectory)))
        return RefusePermission();
    if (!pending) {
        SendReply("550 Call RNFR before using this command.\r\n");
        return;
    }
    if (!entry.Refused() && !renameIsFile_ && !RenameKeepsRules(renameSource_, entry.path)) return RefusePermission();
    if (!entry.Refused() && RenameEntry(renameSource_, entry.path)) {
        SendReply("250 RNTO command succesful.\r\n");
    } else {
        SendReply("550 Could not rename file or directory.\r\n");
    }
}

}  // namespace tolvane::ftp
