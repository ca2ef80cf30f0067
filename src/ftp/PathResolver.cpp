#include "ftp/PathResolver.h"

#include "net/PlatformHelpers.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <vector>

namespace tolvane::ftp {
namespace {

constexpr std::size_t kMaxPath = PATH_MAX - 1;  // the OS refuses longer paths anyway
constexpr std::size_t kMaxName = NAME_MAX;

bool IsAbsolute(std::string_view path) { return !path.empty() && path.front() == '/'; }

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

bool OnlyDots(std::string_view name) { return !name.empty() && name.find_first_not_of('.') == std::string_view::npos; }

std::vector<std::string_view> SplitNames(std::string_view path) {
    std::vector<std::string_view> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start) names.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return names;
}

// Names that would reach something else than what they say ("..." is no folder on the
// client's side, a CR would split the command line into the log) or that the OS cannot take.
bool UsableClientPath(std::string_view path) {
    if (path.empty() || path.size() > kMaxPath || std::ranges::any_of(path, IsControl)) return false;
    return std::ranges::none_of(SplitNames(path), [](std::string_view name) {
        return name.size() > kMaxName || (OnlyDots(name) && name != "." && name != "..");
    });
}

ResolvedEntry RefusedEntry(PathRefusal refusal) { return {refusal, {}, {}, {}}; }

std::string AsFolder(std::string path) {
    if (!path.ends_with('/')) path += '/';
    return path;
}

}  // namespace

PathResolver::PathResolver(std::string_view homeDirectory, std::string_view currentDirectory, bool relativeMode)
    : home_(AsFolder(Normalise(homeDirectory))),
      current_(AsFolder(Normalise(currentDirectory))),
      relativeMode_(relativeMode) {}

std::string PathResolver::Normalise(std::string_view path) {
    std::vector<std::string_view> kept;
    const std::vector<std::string_view> names = SplitNames(path);
    for (const std::string_view name : names) {
        if (name == "..") {
            if (!kept.empty()) kept.pop_back();
        } else if (name != ".") {
            kept.push_back(name);
        }
    }
    std::string result = IsAbsolute(path) ? "/" : "";
    for (const std::string_view name : kept) {
        result += name;
        result += '/';
    }
    const bool namesFolder = path.ends_with('/') || (!names.empty() && (names.back() == "." || names.back() == ".."));
    if (!namesFolder && !kept.empty()) result.pop_back();
    return result;
}

ResolvedDirectory PathResolver::ResolveDirectory(std::string_view argument) const {
    if (!UsableClientPath(argument)) return {PathRefusal::Invalid, {}};
    return JoinDirectory(argument);
}

ResolvedEntry PathResolver::ResolveEntry(std::string_view argument) const {
    if (!UsableClientPath(argument)) return RefusedEntry(PathRefusal::Invalid);
    const std::string_view trimmed = argument.substr(0, argument.find_last_not_of('/') + 1);
    const std::size_t slash = trimmed.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return RefusedEntry(PathRefusal::Invalid);
    const ResolvedDirectory holder = JoinDirectory(trimmed.substr(0, slash == std::string_view::npos ? 0 : slash + 1));
    if (holder.Refused()) return RefusedEntry(holder.refusal);
    std::string path = holder.path + std::string(name);
    if (path.size() > kMaxPath) return RefusedEntry(PathRefusal::Invalid);
    return {PathRefusal::None, holder.path, std::string(name), std::move(path)};
}

ResolvedDirectory PathResolver::Parent() const { return Confined(Normalise(current_ + "..")); }

bool PathResolver::Admits(std::string_view localPath) const {
    if (!IsAbsolute(localPath)) return false;
    return !relativeMode_ || (IsAbsolute(home_) && AsFolder(Normalise(localPath)).starts_with(home_));
}

ResolvedDirectory PathResolver::JoinDirectory(std::string_view clientPath) const {
    const std::string local = net::ToLocalPath(std::string(clientPath));
    if (local.empty()) return Confined(current_);
    if (!IsAbsolute(local)) return Confined(Normalise(current_ + local + '/'));
    if (relativeMode_) return Confined(Normalise(home_ + local + '/'));
    return Confined(Normalise(local + '/'));
}

ResolvedDirectory PathResolver::Confined(std::string candidate) const {
    if (!IsAbsolute(candidate) || !IsAbsolute(current_)) return {PathRefusal::Outside, {}};
    if (candidate.size() > kMaxPath) return {PathRefusal::Invalid, {}};
    if (relativeMode_ && !Admits(candidate)) return {PathRefusal::Outside, {}};
    return {PathRefusal::None, AsFolder(std::move(candidate))};
}

}  // namespace tolvane::ftp
