#include "store/CommandValues.h"

#include "net/AsciiText.h"
#include "store/AccountDatabase.h"
#include "store/CommandError.h"
#include "store/IpRules.h"
#include "store/ProfileFile.h"
#include "store/SpeedRules.h"

#include <filesystem>
#include <utility>

namespace tolvane::store::cli {
namespace fs = std::filesystem;
namespace {

std::string WithTrailingSlash(std::string path) {
    if (!path.ends_with('/')) path += '/';
    return path;
}

std::string AbsoluteFolder(std::string_view option, std::string_view path) {
    if (!path.starts_with('/')) Misused(std::string(option) + ": " + Quoted(path) + " is not an absolute path");
    return WithTrailingSlash(std::string(path));
}

}  // namespace

void CheckEntryName(std::string_view kind, std::string_view name, std::string_view extension) {
    if (!IsValidEntryName(name))
        Failed("invalid " + std::string(kind) + " name " + Quoted(name) +
               ": it must not be empty, '.' or '..', nor contain '/' or NUL");
    if (!FitsFileName(name, extension))
        Failed(std::string(kind) + " name too long: at most " + std::to_string(kMaxFileNameBytes - extension.size()) +
               " bytes");
}

bool IsDigits(std::string_view text) { return net::IsAsciiDigits(text, 9); }

std::string Count(std::string_view option, std::string_view text) {
    if (!IsDigits(text)) Misused(std::string(option) + ": expected a whole number, got " + Quoted(text));
    return std::to_string(ParseProfileInt(text));
}

std::string Speed(std::string_view option, std::string_view text) {
    if (!IsSpeedValue(text)) Misused(std::string(option) + ": expected a speed in kb/s, got " + Quoted(text));
    return std::string(text);
}

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

std::string ExistingRoot(std::string_view path) {
    std::string root = AbsoluteFolder("--root", path);
    std::error_code error;
    if (!fs::is_directory(root, error)) Failed("root directory " + Quoted(path) + " does not exist");
    return root;
}

AccessingRule Rule(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) Misused("--rule: expected DIR:LETTERS, got " + Quoted(text));
    const std::string letters(text.substr(colon + 1));
    if (!ArePermissionLetters(letters))
        Misused("--rule: letters must be out of " + AllPermissionLetters() + ", got " + Quoted(letters));
    const std::string_view folder = text.substr(0, colon);
    // Older readers of the account file end a rule's path at its first comma.
    if (folder.find(',') != std::string_view::npos) Misused("--rule: a folder with a comma cannot be stored");
    return {AbsoluteFolder("--rule", folder), letters};
}

std::string CheckedIpRule(std::string_view text) {
    const auto rule = ParseIpRule(text);
    if (!rule || (rule->type != "Allow" && rule->type != "Deny"))
        Misused("--ip-rule: expected Allow:PATTERN or Deny:PATTERN, got " + Quoted(text));
    if (!IsValidIpRule(text)) Misused("--ip-rule: expected a pattern like 192.168.*.*, got " + Quoted(rule->pattern));
    return std::string(text);
}

std::string RatioType(std::string_view text) {
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {"bytes-session", "Bytes per Session"},
        {"files-session", "Files per Session"},
        {"bytes-sessions", "Bytes per Sessions"},
        {"files-sessions", "Files per Sessions"}};
    for (const auto& [shortName, stored] : kTypes)
        if (text == shortName || text == stored) return std::string(stored);
    Misused("--ratio: unknown type " + Quoted(text));
}

std::string SpeedRule(std::string_view text) {
    if (!IsValidSpeedRule(text)) Misused("--speed-rule: expected DAY-H:M-H:M-RECV,SEND,LIST, got " + Quoted(text));
    return std::string(text);
}

}  // namespace tolvane::store::cli
