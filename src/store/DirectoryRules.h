#pragma once

// Directory rules "<folder>,<letters>": the permission letters, and which rule governs a
// directory. The server, the account commands and the account editor all read them here.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::store {

// Each permission is the letter a rule stores for it; letters are case-sensitive.
enum class Permission : char {
    Read = 'R',             // RETR
    Write = 'W',            // STOR, APPE
    Delete = 'D',           // DELE
    Execute = 'E',          // checked by no command
    RenameFile = 'C',       // RNFR/RNTO of a file
    List = 'L',             // LIST
    MakeDirectory = 'M',    // MKD
    RemoveDirectory = 'r',  // RMD
    Deny = 'd',             // the directory cannot be entered
    RenameDirectory = 'c',  // RNFR/RNTO of a directory
    Inherit = 'I',          // the rule also covers the directories below its own
};

// The order in which a rule writes its letters.
inline constexpr std::array kPermissionsInStoredOrder{
    Permission::Read,          Permission::Write,           Permission::Delete, Permission::Execute,
    Permission::RenameFile,    Permission::List,            Permission::MakeDirectory,
    Permission::RemoveDirectory, Permission::Deny,          Permission::RenameDirectory,
    Permission::Inherit};

constexpr char LetterOf(Permission permission) { return static_cast<char>(permission); }

// Every permission letter in the stored order: "RWDECLMrdcI".
std::string AllPermissionLetters();
bool Grants(std::string_view letters, Permission permission);
// True when every character is a permission letter (none at all is fine).
bool ArePermissionLetters(std::string_view letters);

struct AccessingRule {
    std::string path;
    std::string letters;
};

// "<path>,<letters>" with the letters in the stored order; letters outside the set are dropped.
std::string FormatAccessingRule(const AccessingRule& rule);
// Letters never hold a comma but a folder may: the path is everything before the last comma.
AccessingRule ParseAccessingRule(std::string_view text);

// Picks the rule for `directory` out of the rule texts (rules[0] is AccessingRules1) and
// returns its 1-based index, 0 when none applies.
//
// Rule paths and directories are folder paths ending in '/'; one written without it is read
// as if it had it, so rule "/srv/ftp" is the folder "/srv/ftp/" and never covers
// "/srv/ftpold/". A rule with an empty path applies nowhere. Paths compare exactly: on a
// case-sensitive file system "upload" and "UPLOAD" are two folders. A rule whose path equals the directory wins at once, whatever its letters;
// otherwise the longest rule marked 'I' (inherit) or 'd' (deny) whose path the directory
// begins with applies, the earlier one among equally long paths.
int SelectRule(const std::vector<std::string>& rules, std::string_view directory);

}  // namespace tolvane::store
