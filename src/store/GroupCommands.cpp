#include "store/GroupCommands.h"

#include "store/AccountDisplay.h"
#include "store/AccountOptions.h"
#include "store/CommandError.h"
#include "store/CommandPlaces.h"
#include "store/CommandValues.h"

namespace tolvane::store::cli {
namespace fs = std::filesystem;
namespace {

int GroupList(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 0, "no arguments");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    for (const std::string& group : ListTitles(home.groupsDir, kGroupExtension))
        out << group << '\t' << ListTitles(GroupMembersDir(home.groupsDir, group), kUserExtension).size()
            << " members\n";
    return kCommandSucceeded;
}

int GroupAdd(const fs::path& serverHome, const Arguments& arguments, CommandStreams streams) {
    ExpectPositionals(arguments, 1, "GROUP");
    if (arguments.Has("--group")) Misused("--group is for users");
    const std::string& group = arguments.positionals[0];
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    CheckEntryName("group", group, kGroupExtension);
    if (IsFile(GroupFile(home.groupsDir, group)))
        Failed("group " + Quoted(group) + " already exists in IP home " + Quoted(home.title));
    AccountValues values = NewAccountValues();
    ApplyAccountOptions(arguments, PasswordOption(arguments, streams.in), values);
    if (!CreateGroup(home.groupsDir, group) || !WriteAccount(GroupFile(home.groupsDir, group), values)) {
        DeleteGroup(home.groupsDir, group);
        Failed(CannotWrite(home.groupsDir));
    }
    streams.out << "added group " << group << '\n';
    return kCommandSucceeded;
}

int GroupShow(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "GROUP");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    const fs::path file = ExistingGroupFile(home, arguments.positionals[0]);
    out << arguments.positionals[0] << '\n';
    ShowLine(out, "ip home", home.title);
    std::string members;
    for (const std::string& user : ListTitles(GroupMembersDir(home.groupsDir, arguments.positionals[0]), kUserExtension))
        members += (members.empty() ? "" : ", ") + user;
    ShowLine(out, "members", OrNone(members));
    ShowAccount(out, ReadAccountValues(file));
    return kCommandSucceeded;
}

int GroupRemove(const fs::path& serverHome, const Arguments& arguments, std::ostream& out) {
    ExpectPositionals(arguments, 1, "GROUP");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    ExistingGroupFile(home, arguments.positionals[0]);
    if (!DeleteGroup(home.groupsDir, arguments.positionals[0])) Failed(CannotWrite(home.groupsDir));
    out << "removed group " << arguments.positionals[0] << '\n';
    return kCommandSucceeded;
}

int GroupSet(const fs::path& serverHome, const Arguments& arguments, CommandStreams streams) {
    ExpectPositionals(arguments, 1, "GROUP");
    if (arguments.Has("--group")) Misused("--group is for users");
    const HomeFolders home = SelectedIpHome(serverHome, arguments);
    return SetAccount(ExistingGroupFile(home, arguments.positionals[0]), arguments, streams);
}

}  // namespace

int RunGroup(const fs::path& serverHome, const std::string& verb, const Arguments& arguments, CommandStreams streams) {
    if (verb == "list") return GroupList(serverHome, arguments, streams.out);
    if (verb == "add") return GroupAdd(serverHome, arguments, streams);
    if (verb == "show") return GroupShow(serverHome, arguments, streams.out);
    if (verb == "remove") return GroupRemove(serverHome, arguments, streams.out);
    return GroupSet(serverHome, arguments, streams);
}

}  // namespace tolvane::store::cli
