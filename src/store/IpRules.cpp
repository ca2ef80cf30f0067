#include "store/IpRules.h"

#include "net/AsciiText.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstddef>
#include <netinet/in.h>
#include <string>

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

constexpr int kIpv6Bits = 128;

std::optional<in6_addr> Ipv6Address(std::string_view text) {
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
    in6_addr address{};
    if (inet_pton(AF_INET6, std::string(text).c_str(), &address) != 1) return std::nullopt;
    return address;
}

// "2001:db8::5" (every bit) or "2001:db8::/32" (the leading bits).
struct Ipv6Pattern {
    in6_addr address{};
    int prefixBits = kIpv6Bits;
};

std::optional<Ipv6Pattern> ParseIpv6Pattern(std::string_view pattern) {
    const std::size_t slash = pattern.find('/');
    const auto address = Ipv6Address(pattern.substr(0, slash));
    if (!address) return std::nullopt;
    if (slash == std::string_view::npos) return Ipv6Pattern{*address, kIpv6Bits};
    const std::string_view length = pattern.substr(slash + 1);
    if (!net::IsAsciiDigits(length, 3)) return std::nullopt;
    const int bits = std::stoi(std::string(length));
    if (bits > kIpv6Bits) return std::nullopt;
    return Ipv6Pattern{*address, bits};
}

bool SamePrefix(const in6_addr& a, const in6_addr& b, int bits) {
    for (int i = 0; i < bits; ++i) {
        const int mask = 0x80 >> (i % 8);
        if ((a.s6_addr[i / 8] & mask) != (b.s6_addr[i / 8] & mask)) return false;
    }
    return true;
}

// An IPv6 pattern ranks by the bits it leaves open, so a longer prefix is more specific.
std::optional<PatternMatch> MatchIpv6Pattern(std::string_view pattern, std::string_view address) {
    const auto parsed = ParseIpv6Pattern(pattern);
    const auto client = Ipv6Address(address);
    if (!parsed || !client || !SamePrefix(parsed->address, *client, parsed->prefixBits)) return std::nullopt;
    return PatternMatch{kIpv6Bits - parsed->prefixBits, 0};
}

bool IsIpv6Pattern(std::string_view pattern) { return pattern.find(':') != std::string_view::npos; }

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
    if (IsIpv6Pattern(rule->pattern)) return ParseIpv6Pattern(rule->pattern).has_value();
    const auto parts = SplitDotted(rule->pattern);
    return parts && std::ranges::all_of(*parts, IsAddressComponent);
}

std::optional<PatternMatch> MatchIpPattern(std::string_view pattern, std::string_view address) {
    if (IsIpv6Pattern(pattern)) return MatchIpv6Pattern(pattern, address);
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
