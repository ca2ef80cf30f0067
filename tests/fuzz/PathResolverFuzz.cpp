// Path normalisation and rule selection. The oracle: in relative mode nothing a client names
// resolves outside the home, and every resolved path is already normalised; the rule chosen for
// a folder covers it, and no covering rule beats it.
#include "ftp/PathResolver.h"
#include "net/AsciiText.h"
#include "store/DirectoryRules.h"
#include "FuzzInput.h"

#include <cstdlib>

namespace {

using namespace tolvane;

void Check(bool condition) {
    if (!condition) std::abort();
}

bool IsNormalFolder(const std::string& path) {
    return path.starts_with('/') && path.ends_with('/') && path.find("//") == std::string::npos &&
           path.find("/./") == std::string::npos && path.find("/../") == std::string::npos;
}

std::string AsFolder(std::string path) {
    if (!path.empty() && !path.ends_with('/')) path += '/';
    return path;
}

void CheckInside(const ftp::ResolvedDirectory& resolved, const std::string& home, bool relative) {
    if (resolved.Refused()) return;
    Check(IsNormalFolder(resolved.path));
    if (relative) Check(resolved.path.starts_with(home));
}

void CheckRuleChoice(const std::vector<std::string>& rules, const std::string& directory) {
    const std::string folder = AsFolder(directory);
    const int chosen = store::SelectRule(rules, directory);
    Check(chosen >= 0 && chosen <= static_cast<int>(rules.size()));
    int firstExact = 0;
    std::size_t longestBelow = 0;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const auto rule = store::ParseAccessingRule(rules[i]);
        if (rule.path.empty()) continue;
        const std::string path = AsFolder(rule.path);
        if (path == folder && firstExact == 0) firstExact = static_cast<int>(i) + 1;
        const bool reachesBelow = rule.letters.find_first_of("Id") != std::string::npos;
        if (reachesBelow && folder.starts_with(path))
            longestBelow = std::max(longestBelow, path.size());
    }
    if (firstExact != 0) return Check(chosen == firstExact);
    if (longestBelow == 0) return Check(chosen == 0);
    Check(chosen != 0 && AsFolder(store::ParseAccessingRule(rules[chosen - 1]).path).size() == longestBelow);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool relative = data[0] & 1;
    fuzz::Lines lines(data + 1, size - 1);
    const std::string home = lines.Next();
    const std::string current = lines.Next();
    const std::string argument = lines.Next();
    const std::vector<std::string> rules = lines.Rest();

    const std::string normalised = ftp::PathResolver::Normalise(argument);
    Check(ftp::PathResolver::Normalise(normalised) == normalised);

    const ftp::PathResolver resolver(home, current, relative);
    const std::string homeFolder = AsFolder(ftp::PathResolver::Normalise(home));
    CheckInside(resolver.ResolveDirectory(argument), homeFolder, relative);
    CheckInside(resolver.Parent(), homeFolder, relative);
    const ftp::ResolvedEntry entry = resolver.ResolveEntry(argument);
    if (!entry.Refused()) {
        CheckInside({ftp::PathRefusal::None, entry.directory}, homeFolder, relative);
        Check(entry.path == entry.directory + entry.name);
        Check(!entry.name.empty() && entry.name != "." && entry.name != ".." &&
              entry.name.find('/') == std::string::npos);
    }
    if (relative && resolver.Admits(argument)) Check(AsFolder(ftp::PathResolver::Normalise(argument)).starts_with(homeFolder));

    CheckRuleChoice(rules, argument);
    if (!entry.Refused()) CheckRuleChoice(rules, entry.directory);
    return 0;
}
