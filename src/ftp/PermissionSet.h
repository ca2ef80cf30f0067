#pragma once

// What a session may do in one directory, and which accessing rule decides it.

#include <string>
#include <string_view>
#include <vector>

namespace tolvane::ftp {

// One flag per rule letter, in the order R W E D C L M r d c I.
struct PermissionSet {
    bool read = false;             // R: RETR
    bool write = false;            // W: STOR, APPE
    bool execute = false;          // E: checked by no command
    bool deleteFiles = false;      // D: DELE
    bool renameFile = false;       // C: RNFR/RNTO of a file
    bool list = false;             // L: LIST
    bool makeDirectory = false;    // M: MKD
    bool removeDirectory = false;  // r: RMD
    bool deny = false;             // d: the directory cannot be entered
    bool renameDirectory = false;  // c: RNFR/RNTO of a directory
    bool inherit = false;          // I: the rule also covers the directories below its own

    friend bool operator==(const PermissionSet&, const PermissionSet&) = default;
};

// Each flag whose letter occurs in `letters` (case-sensitive: 'R' read, 'r' remove directory).
PermissionSet PermissionsFromLetters(std::string_view letters);

// The set of a directory no rule applies to: nothing but deny.
PermissionSet DefaultPermissions();

// Picks the rule for `directory` out of the rule texts "<path>,<letters>" (rules[0] is
// AccessingRules1) and returns its 1-based index, 0 when none applies.
//
// Rule paths and directories are folder paths ending in '/'; one written without it is read
// as if it had it, so rule "/srv/ftp" is the folder "/srv/ftp/" and never covers
// "/srv/ftpold/". A rule with an empty path applies nowhere. Paths compare without regard to
// ASCII case. A rule whose path equals the directory wins at once, whatever its letters;
// otherwise the longest rule marked 'I' (inherit) or 'd' (deny) whose path the directory
// begins with applies, the earlier one among equally long paths.
int SelectRule(const std::vector<std::string>& rules, std::string_view directory);

// The letters of the selected rule, or the default set when none applies.
PermissionSet ComputePermissions(const std::vector<std::string>& rules, std::string_view directory);

}  // namespace tolvane::ftp
