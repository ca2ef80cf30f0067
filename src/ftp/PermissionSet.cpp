#include "ftp/PermissionSet.h"

#include "store/DirectoryRules.h"

namespace tolvane::ftp {

PermissionSet PermissionsFromLetters(std::string_view letters) {
    using store::Permission;
    const auto has = [letters](Permission permission) { return store::Grants(letters, permission); };
    PermissionSet set;
    set.read = has(Permission::Read);
    set.write = has(Permission::Write);
    set.execute = has(Permission::Execute);
    set.deleteFiles = has(Permission::Delete);
    set.renameFile = has(Permission::RenameFile);
    set.list = has(Permission::List);
    set.makeDirectory = has(Permission::MakeDirectory);
    set.removeDirectory = has(Permission::RemoveDirectory);
    set.deny = has(Permission::Deny);
    set.renameDirectory = has(Permission::RenameDirectory);
    set.inherit = has(Permission::Inherit);
    return set;
}

PermissionSet DefaultPermissions() {
    PermissionSet set;
    set.deny = true;
    return set;
}

PermissionSet ComputePermissions(const std::vector<std::string>& rules, std::string_view directory) {
    const int index = store::SelectRule(rules, directory);
    if (index == 0) return DefaultPermissions();
    return PermissionsFromLetters(store::ParseAccessingRule(rules[index - 1]).letters);
}

}  // namespace tolvane::ftp
