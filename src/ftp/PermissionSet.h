#pragma once

// What a session may do in one directory, and which accessing rule decides it.

#include <string>
#include <string_view>
#include <vector>

namespace tolvane::ftp {

// One flag per store::Permission.
struct PermissionSet {
    bool read = false;
    bool write = false;
    bool execute = false;
    bool deleteFiles = false;
    bool renameFile = false;
    bool list = false;
    bool makeDirectory = false;
    bool removeDirectory = false;
    bool deny = false;
    bool renameDirectory = false;
    bool inherit = false;

    friend bool operator==(const PermissionSet&, const PermissionSet&) = default;
};

// Each flag whose letter occurs in `letters`.
PermissionSet PermissionsFromLetters(std::string_view letters);

// The set of a directory no rule applies to: nothing but deny.
PermissionSet DefaultPermissions();

// The letters of the rule store::SelectRule picks out of the rule texts for `directory`, or
// the default set when none applies.
PermissionSet ComputePermissions(const std::vector<std::string>& rules, std::string_view directory);

}  // namespace tolvane::ftp
