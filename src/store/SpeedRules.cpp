#include "store/SpeedRules.h"

#include "net/AsciiText.h"
#include "store/ProfileFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace tolvane::store {
namespace {

// Rule values were read into a 256-byte buffer: text past it never counted.
constexpr std::size_t kRuleChars = 255;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kNoWindowYet = 1024;  // hours; a window must be shorter to be chosen

constexpr std::array<std::string_view, 7> kWeekdays{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                    "Thursday", "Friday", "Saturday"};

// The text up to `separator`, which is consumed; nothing when it is missing.
std::optional<std::string_view> TakeField(std::string_view& rest, char separator) {
    const std::size_t at = rest.find(separator);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view field = rest.substr(0, at);
    rest.remove_prefix(at + 1);
    return field;
}

// The text before the first `separator` and the text after it (empty when there is none).
std::pair<std::string_view, std::string_view> SplitAt(std::string_view text, char separator) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) return {text, {}};
    return {text.substr(0, at), text.substr(at + 1)};
}

// "H:M" as atoi reads each part; the int range of each part keeps the sum in 64 bits.
std::int64_t SecondsOfDay(std::string_view time) {
    const auto [hours, minutes] = SplitAt(time, ':');
    return std::int64_t{ParseProfileInt(hours)} * kSecondsPerHour + std::int64_t{ParseProfileInt(minutes)} * 60;
}

DynamicSpeeds ParseSpeeds(std::string_view list) {
    const auto [receiving, sending, listing] = SplitSpeeds(list);
    return {ParseProfileDouble(receiving), ParseProfileDouble(sending), ParseProfileDouble(listing)};
}

std::string_view WeekdayName(int weekday) {
    return weekday >= 0 && weekday < static_cast<int>(kWeekdays.size()) ? kWeekdays[weekday] : std::string_view();
}

bool DayMatches(std::string_view day, std::string_view weekday) {
    return day == "Everyday" || (!weekday.empty() && day == weekday);
}

}  // namespace

std::optional<SpeedRuleParts> SplitSpeedRule(std::string_view text) {
    const auto day = TakeField(text, '-');
    const auto from = day ? TakeField(text, '-') : std::nullopt;
    const auto till = from ? TakeField(text, '-') : std::nullopt;
    if (!till) return std::nullopt;
    return SpeedRuleParts{*day, *from, *till, text};
}

std::array<std::string_view, 3> SplitSpeeds(std::string_view speeds) {
    const auto [receiving, afterReceiving] = SplitAt(speeds, ',');
    const auto [sending, listing] = SplitAt(afterReceiving, ',');
    return {receiving, sending, listing};
}

bool IsSpeedRuleDay(std::string_view text) { return std::ranges::find(kSpeedRuleDays, text) != kSpeedRuleDays.end(); }

bool IsSpeedRuleTime(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view hours = text.substr(0, colon);
    const std::string_view minutes = text.substr(colon + 1);
    return net::IsAsciiDigits(hours, 2) && net::IsAsciiDigits(minutes, 2) && ParseProfileInt(hours) <= 23 && ParseProfileInt(minutes) <= 59;
}

bool IsSpeedValue(std::string_view text) {
    const auto [whole, fraction] = SplitAt(text, '.');
    const bool hasPoint = text.find('.') != std::string_view::npos;
    return net::IsAsciiDigits(whole, 9) && (!hasPoint || fraction.empty() || net::IsAsciiDigits(fraction, 9));
}

bool IsValidSpeedRule(std::string_view text) {
    const auto parts = SplitSpeedRule(text);
    if (!parts || !IsSpeedRuleDay(parts->day) || !IsSpeedRuleTime(parts->from) || !IsSpeedRuleTime(parts->till))
        return false;
    if (std::ranges::count(parts->speeds, ',') != 2) return false;
    return std::ranges::all_of(SplitSpeeds(parts->speeds), IsSpeedValue);
}

DynamicSpeeds DynamicLimit(const std::vector<std::string>& rules, const std::tm& now) {
    const std::string_view weekday = WeekdayName(now.tm_wday);
    const std::int64_t seconds = std::int64_t{now.tm_hour} * kSecondsPerHour + std::int64_t{now.tm_min} * 60;
    std::int64_t bestWindow = kNoWindowYet;
    DynamicSpeeds chosen;
    for (const std::string& text : rules) {
        const auto rule = SplitSpeedRule(std::string_view(text).substr(0, kRuleChars));
        if (!rule || !DayMatches(rule->day, weekday)) continue;
        const std::int64_t from = SecondsOfDay(rule->from);
        const std::int64_t till = SecondsOfDay(rule->till);
        if (from > seconds || seconds > till) continue;
        const std::int64_t window = (till - from) / kSecondsPerHour;
        if (window < bestWindow) {
            bestWindow = window;
            chosen = ParseSpeeds(rule->speeds);
        }
    }
    return chosen;
}

}  // namespace tolvane::store
