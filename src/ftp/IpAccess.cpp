#include "ftp/IpAccess.h"

#include <array>
#include <cstddef>

namespace tolvane::ftp {
namespace {

constexpr std::size_t kComponents = 4;
constexpr std::array<int, kComponents> kWeights{8, 4, 2, 1};

// The four dot-separated components, or nothing when there are more or fewer.
std::optional<std::array<std::string_view, kComponents>> SplitDotted(std::string_view text) {
    std::array<std::string_view, kComponents> parts;
    for (std::size_t i = 0; i < kComponents; ++i) {
        const std::size_t dot = text.find('.');
        const bool last = i + 1 == kComponents;
        if (last != (dot == std::string_view::npos)) return std::nullopt;
        parts[i] = text.substr(0, dot);
        if (!last) text.remove_prefix(dot + 1);
    }
    return parts;
}

bool MoreSpecific(const PatternMatch& a, const PatternMatch& b) {
    return a.wildcards < b.wildcards || (a.wildcards == b.wildcards && a.weight < b.weight);
}

}  // namespace

std::optional<PatternMatch> MatchIpPattern(std::string_view pattern, std::string_view address) {
    const auto patternParts = SplitDotted(pattern);
    const auto addressParts = SplitDotted(address);
    if (!patternParts || !addressParts) return std::nullopt;
    PatternMatch match;
    for (std::size_t i = 0; i < kComponents; ++i) {
        if ((*patternParts)[i] == "*") {
            ++match.wildcards;
            match.weight += kWeights[i];
        } else if ((*patternParts)[i] != (*addressParts)[i]) {
            return std::nullopt;
        }
    }
    return match;
}

bool CheckIpAccess(const std::vector<std::string>& rules, std::string_view address) {
    if (rules.empty()) return true;
    const std::string* chosen = nullptr;
    PatternMatch best;
    for (const std::string& rule : rules) {
        const std::size_t colon = rule.find(':');
        if (colon == std::string::npos) continue;
        const auto match = MatchIpPattern(std::string_view(rule).substr(colon + 1), address);
        if (match && (chosen == nullptr || MoreSpecific(*match, best))) {
            chosen = &rule;
            best = *match;
        }
    }
    return chosen != nullptr && std::string_view(*chosen).substr(0, chosen->find(':')) == "Allow";
}

}  // namespace tolvane::ftp
