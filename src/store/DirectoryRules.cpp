#include "store/DirectoryRules.h"

#include <cstddef>

namespace tolvane::store {
namespace {

std::string AsFolder(std::string_view path) {
    std::string folder(path);
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

bool ReachesBelow(std::string_view letters) {
    return Grants(letters, Permission::Inherit) || Grants(letters, Permission::Deny);
}

}  // namespace

std::string AllPermissionLetters() {
    std::string letters;
    for (const Permission permission : kPermissionsInStoredOrder) letters += LetterOf(permission);
    return letters;
}

bool Grants(std::string_view letters, Permission permission) {
    return letters.find(LetterOf(permission)) != std::string_view::npos;
}

bool ArePermissionLetters(std::string_view letters) {
    return letters.find_first_not_of(AllPermissionLetters()) == std::string_view::npos;
}

std::string FormatAccessingRule(const AccessingRule& rule) {
    std::string text = rule.path + ',';
    for (const Permission permission : kPermissionsInStoredOrder)
        if (Grants(rule.letters, permission)) text += LetterOf(permission);
    return text;
}

AccessingRule ParseAccessingRule(std::string_view text) {
    const std::size_t comma = text.rfind(',');
    if (comma == std::string_view::npos) return {std::string(text), {}};
    return {std::string(text.substr(0, comma)), std::string(text.substr(comma + 1))};
}

int SelectRule(const std::vector<std::string>& rules, std::string_view directory) {
    const std::string folder = AsFolder(directory);
    int chosen = 0;
    std::size_t chosenLength = 0;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const AccessingRule rule = ParseAccessingRule(rules[i]);
        if (rule.path.empty()) continue;
        const std::string rulePath = AsFolder(rule.path);
        const int index = static_cast<int>(i) + 1;
        // Exact comparison: on a case-sensitive file system "upload" and "UPLOAD" are two folders.
        if (rulePath == folder) return index;
        if (ReachesBelow(rule.letters) && rulePath.size() > chosenLength && folder.starts_with(rulePath)) {
            chosen = index;
            chosenLength = rulePath.size();
        }
    }
    return chosen;
}

}  // namespace tolvane::store
