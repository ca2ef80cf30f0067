#include "ftp/PermissionSet.h"

#include "store/AccountSettings.h"

#include <algorithm>
#include <cstddef>

namespace tolvane::ftp {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, {}, LowerAscii, LowerAscii);
}

bool BeginsIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string AsFolder(std::string_view path) {
    std::string folder(path);
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

bool ReachesBelow(std::string_view letters) {
    return letters.find('I') != std::string_view::npos || letters.find('d') != std::string_view::npos;
}

}  // namespace

PermissionSet PermissionsFromLetters(std::string_view letters) {
    const auto has = [letters](char letter) { return letters.find(letter) != std::string_view::npos; };
    PermissionSet set;
    set.read = has('R');
    set.write = has('W');
    set.execute = has('E');
    set.deleteFiles = has('D');
    set.renameFile = has('C');
    set.list = has('L');
    set.makeDirectory = has('M');
    set.removeDirectory = has('r');
    set.deny = has('d');
    set.renameDirectory = has('c');
    set.inherit = has('I');
    return set;
}

PermissionSet DefaultPermissions() {
    PermissionSet set;
    set.deny = true;
    return set;
}

int SelectRule(const std::vector<std::string>& rules, std::string_view directory) {
    const std::string folder = AsFolder(directory);
    int chosen = 0;
    std::size_t chosenLength = 0;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const store::AccessingRule rule = store::ParseAccessingRule(rules[i]);
        if (rule.path.empty()) continue;
        const std::string rulePath = AsFolder(rule.path);
        const int index = static_cast<int>(i) + 1;
        if (SameIgnoringCase(rulePath, folder)) return index;
        if (ReachesBelow(rule.letters) && rulePath.size() > chosenLength &&
            BeginsIgnoringCase(folder, rulePath)) {
            chosen = index;
            chosenLength = rulePath.size();
        }
    }
    return chosen;
}

PermissionSet ComputePermissions(const std::vector<std::string>& rules, std::string_view directory) {
    const int index = SelectRule(rules, directory);
    if (index == 0) return DefaultPermissions();
    return PermissionsFromLetters(store::ParseAccessingRule(rules[index - 1]).letters);
}

}  // namespace tolvane::ftp
