#pragma once

// IP rules "<type>:<pattern>" such as "Allow:192.168.*.*", "Deny:2001:db8::5" or
// "Allow:2001:db8::/32": which client addresses an account admits.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::store {

// How specific a matching pattern is: the number of '*' components, and the sum of their
// weights 8, 4, 2, 1 (first to fourth component). Lower is more specific in both.
struct PatternMatch {
    int wildcards = 0;
    int weight = 0;
};

struct IpRule {
    std::string_view type;  // "Allow" admits, anything else refuses
    std::string_view pattern;
};

// Type before the first colon, pattern after it; a text without a colon is no rule.
std::optional<IpRule> ParseIpRule(std::string_view text);

// What the account commands accept: type "Allow" or "Deny", and four components each '*' or
// a number up to 255 of at most three digits, or an IPv6 address with an optional "/bits"
// prefix length up to 128.
bool IsValidIpRule(std::string_view text);

// Matches a dotted pattern such as "192.168.*.*" against a dotted address. Pattern and address
// must both have exactly four components; '*' matches any component, every other component
// only the identical text ("010" does not match "10"). A pattern with a ':' is an IPv6 address,
// alone or with "/bits", and matches IPv6 addresses only: the same address, or the same leading
// bits; its wildcards are the bits it leaves open.
std::optional<PatternMatch> MatchIpPattern(std::string_view pattern, std::string_view address);

// Decides by the rule texts "<type>:<pattern>" (rules[0] is IPAccessRule0). No rules: allowed.
// Otherwise the most specific matching rule decides (fewest wildcards, then lowest weight, the
// earlier one on ties), allowing exactly when its type is "Allow". Rules exist but none
// matches: refused. A rule without ':' has no pattern and matches nothing.
bool CheckIpAccess(const std::vector<std::string>& rules, std::string_view address);

}  // namespace tolvane::store
