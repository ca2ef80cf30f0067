#pragma once

// Dynamic speed rules "<day>-<H:M>-<H:M>-<recv>,<send>,<list>": what a valid one looks like,
// and which one is in force at a given time.

#include <array>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::store {

inline constexpr std::array<std::string_view, 8> kSpeedRuleDays{
    "Everyday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

struct SpeedRuleParts {
    std::string_view day;
    std::string_view from;
    std::string_view till;
    std::string_view speeds;  // "<recv>,<send>,<list>"
};

// Split at the first three '-'; nothing when one is missing.
std::optional<SpeedRuleParts> SplitSpeedRule(std::string_view text);
// Split at the first two ','; a missing part is empty.
std::array<std::string_view, 3> SplitSpeeds(std::string_view speeds);

bool IsSpeedRuleDay(std::string_view text);
// "H:M" on the 24-hour clock, each part one or two digits.
bool IsSpeedRuleTime(std::string_view text);
// kb/s: up to nine digits, optionally a point and up to nine more.
bool IsSpeedValue(std::string_view text);
bool IsValidSpeedRule(std::string_view text);

// kb/s per kind, from the dynamic rule in force; 0 means no limit.
struct DynamicSpeeds {
    double receiving = 0, sending = 0, listing = 0;
};

// Evaluates the rule texts (rules[0] is DynamicSpeedLimitRule0) at the local time `now`; only
// weekday, hour and minute count. Times and speeds are read leniently, as atoi and atof would. A
// rule is in force on its weekday (full English name, exact) or "Everyday", from its first
// minute to its last one included; a window that crosses midnight never is. Among the rules in
// force the shortest window, counted in whole hours, wins; the earlier rule on ties. No rule in
// force: all zero.
DynamicSpeeds DynamicLimit(const std::vector<std::string>& rules, const std::tm& now);

}  // namespace tolvane::store
