#pragma once

// Where the account commands find IP homes, users and groups; a missing one ends the command.

#include "store/AccountDatabase.h"
#include "store/CommandArguments.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace tolvane::store::cli {

struct HomeFolders {
    std::string title;
    std::filesystem::path usersDir;
    std::filesystem::path groupsDir;
};

bool IsFile(const std::filesystem::path& path);
HomeFolders ExistingIpHome(const std::filesystem::path& serverHome, std::string_view title);
// The home named by --iphome, "[Full Machine]" without it.
HomeFolders SelectedIpHome(const std::filesystem::path& serverHome, const Arguments& arguments);
AccountFiles ExistingUser(const HomeFolders& home, std::string_view name);
// A user name may occur once in an IP home, members of its groups included.
void CheckUserNameFree(const HomeFolders& home, std::string_view name);
std::filesystem::path ExistingGroupFile(const HomeFolders& home, std::string_view group);
// The folder of `file`, with a trailing '/'.
std::string FolderOf(const std::filesystem::path& file);
std::string CannotWrite(const std::filesystem::path& where);

}  // namespace tolvane::store::cli
