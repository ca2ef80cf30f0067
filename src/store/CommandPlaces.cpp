#include "store/CommandPlaces.h"

#include "store/CommandError.h"
#include "store/CommandValues.h"

namespace tolvane::store::cli {
namespace fs = std::filesystem;

bool IsFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

HomeFolders ExistingIpHome(const fs::path& serverHome, std::string_view title) {
    CheckEntryName("IP home", title, kIpHomeExtension);
    const fs::path database = DatabaseDir(serverHome);
    if (!IsFile(IpHomeFile(database, title)))
        Failed("no IP home " + Quoted(title) + " in " + database.string() + " (see 'tolvaned iphome list')");
    return {std::string(title), UsersDir(database, title), GroupsDir(database, title)};
}

HomeFolders SelectedIpHome(const fs::path& serverHome, const Arguments& arguments) {
    return ExistingIpHome(serverHome, arguments.Last("--iphome").value_or(std::string(kDefaultIpHome)));
}

AccountFiles ExistingUser(const HomeFolders& home, std::string_view name) {
    CheckEntryName("user", name, kUserExtension);
    const auto files = FindAccount(home.usersDir, home.groupsDir, name);
    if (!files) Failed("no user " + Quoted(name) + " in IP home " + Quoted(home.title));
    return *files;
}

void CheckUserNameFree(const HomeFolders& home, std::string_view name) {
    CheckEntryName("user", name, kUserExtension);
    if (FindAccount(home.usersDir, home.groupsDir, name))
        Failed("user " + Quoted(name) + " already exists in IP home " + Quoted(home.title));
}

fs::path ExistingGroupFile(const HomeFolders& home, std::string_view group) {
    CheckEntryName("group", group, kGroupExtension);
    const fs::path file = GroupFile(home.groupsDir, group);
    if (!IsFile(file)) Failed("no group " + Quoted(group) + " in IP home " + Quoted(home.title));
    return file;
}

std::string FolderOf(const fs::path& file) { return file.parent_path().string() + "/"; }

std::string CannotWrite(const fs::path& where) {
    return "cannot write to " + where.string() + " (is the folder writable?); nothing was changed";
}

}  // namespace tolvane::store::cli
