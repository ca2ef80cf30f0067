#include "store/UserCommands.h"

#include "store/AccountDisplay.h"
#include "store/AccountOptions.h"
#include "store/CommandError.h"
#include "store/CommandPlaces.h"

namespace tolvane::store::cli {
namespace fs = std::filesystem;
namespace {

int UserList(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 0, "no arguments");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    for (const std::string& user : ListTitles(home.usersDir, kUserExtension)) out << user << "\t-\n";
    for (const std::string& group : ListTitles(home.groupsDir, kGroupExtension))
        for (const std::string& user : ListTitles(GroupMembersDir(home.groupsDir, group), kUserExtension))
            out << user << '\t' << group << '\n';
    return kCommandSucceeded;
}

fs::path NewUserFolder(const HomeFolders& home, const Arguments& arguments) {
    const auto group = arguments.Last("--group");
    if (!group) return home.usersDir;
    ExistingGroupFile(home, *group);
    return GroupMembersDir(home.groupsDir, *group);
}

int UserAdd(const fs::path& serverHome, const Arguments& arguments, CommandStreams streams) {
    ExpectPositionals(arguments, 1, "NAME");
    const std::string& name = arguments.positionals[0];
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    CheckUserNameFree(home, name);
    const fs::path folder = NewUserFolder(home, arguments);
    if (!arguments.Has("--group") && !arguments.Has("--root")) Misused("--root DIR is needed for a user outside a group");
    const std::optional<std::string> password = PasswordOption(arguments, streams.in);
    AccountValues values = NewAccountValues();
    ApplyAccountOptions(arguments, password, values);
    if (!password) Misused("--password-stdin or --no-password is needed for a new user");
    if (!CreateUser(folder, name)) Failed(CannotWrite(folder));
    if (!WriteAccount(UserFile(folder, name), values)) {
        DeleteUser(folder, name);
        Failed(CannotWrite(folder));
    }
    streams.out << "added user " << name << '\n';
    return kCommandSucceeded;
}

std::string GroupOf(const AccountFiles& files) {
    return files.accountFile == files.settingsFile ? std::string() : files.settingsFile.stem().string();
}

int UserShow(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "NAME");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    const AccountFiles files = ExistingUser(home, arguments.positionals[0]);
    out << arguments.positionals[0] << '\n';
    ShowLine(out, "ip home", home.title);
    const std::string group = GroupOf(files);
    ShowLine(out, "group", group.empty() ? "none" : group + " (its settings apply at login, but the password)");
    ShowLine(out, "file", files.accountFile.string());
    ShowAccount(out, ReadAccountValues(files.accountFile));
    return kCommandSucceeded;
}

int UserRename(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 2, "OLD NEW");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    const AccountFiles files = ExistingUser(home, arguments.positionals[0]);
    CheckUserNameFree(home, arguments.positionals[1]);
    const std::string folder = FolderOf(files.accountFile);
    if (!RenameUser(folder, arguments.positionals[0], arguments.positionals[1])) Failed(CannotWrite(folder));
    out << "renamed user " << arguments.positionals[0] << " to " << arguments.positionals[1] << '\n';
    return kCommandSucceeded;
}

int UserRemove(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "NAME");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    const AccountFiles files = ExistingUser(home, arguments.positionals[0]);
    const std::string folder = FolderOf(files.accountFile);
    if (!DeleteUser(folder, arguments.positionals[0])) Failed(CannotWrite(folder));
    out << "removed user " << arguments.positionals[0] << '\n';
    return kCommandSucceeded;
}

int UserSet(const fs::path& serverHome, const Arguments& arguments, CommandStreams streams) {
    ExpectPositionals(arguments, 1, "NAME");
    if (arguments.Has("--group")) Misused("--group: use 'user add' to place a new user in a group");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    return SetAccount(ExistingUser(home, arguments.positionals[0]).accountFile, arguments, streams);
}

}  // namespace

int RunUser(const fs::path& serverHome, const std::string& verb, const Arguments& arguments, CommandStreams streams) {
    if (verb == "list") return UserList(serverHome, arguments, streams.out);
    if (verb == "add") return UserAdd(serverHome, arguments, streams);
    if (verb == "show") return UserShow(serverHome, arguments, streams.out);
    if (verb == "rename") return UserRename(serverHome, arguments, streams.out);
    if (verb == "remove") return UserRemove(serverHome, arguments, streams.out);
    return UserSet(serverHome, arguments, streams);
}

}  // namespace tolvane::store::cli
