#include "store/IpRules.h"

#include "net/AsciiText.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace tolvane::store {
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

bool IsAddressComponent(std::string_view part) {
    if (part == "*") return true;
    if (!net::IsAsciiDigits(part, 3)) return false;
    int value = 0;
    for (const char digit : part) value = value * 10 + (digit - '0');
    return value <= 255;
}

bool MoreSpecific(const PatternMatch& a, const PatternMatch& b) {
    return a.wildcards < b.wildcards || (a.wildcards == b.wildcards && a.weight < b.weight);
}

}  // namespace

std::optional<IpRule> ParseIpRule(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    return IpRule{text.substr(0, colon), text.substr(colon + 1)};
}

bool IsValidIpRule(std::string_view text) {
    const auto rule = ParseIpRule(text);
    if (!rule || (rule->type != "Allow" && rule->type != "Deny")) return false;
    const auto parts = SplitDotted(rule->pattern);
    return parts && std::ranges::all_of(*parts, IsAddressComponent);
}

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
    std::optional<IpRule> chosen;
    PatternMatch best;
    for (const std::string& text : rules) {
        const auto rule = ParseIpRule(text);
        if (!rule) continue;
        const auto match = MatchIpPattern(rule->pattern, address);
        if (match && (!chosen || MoreSpecific(*match, best))) {
            chosen = rule;
            best = *match;
        }
    }
    return chosen && chosen->type == "Allow";
}

}  // namespace tolvane::store
