#include "ftp/SpeedLimit.h"

#include "store/ProfileFile.h"

#include <array>
#include <cstddef>
#include <limits>
#include <utility>

namespace tolvane::ftp {
namespace {

// Rule values were read into a 256-byte buffer: text past it never counted.
constexpr std::size_t kRuleChars = 255;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kNoWindowYet = 1024;  // hours; a window must be shorter to be chosen

constexpr std::array<std::string_view, 7> kWeekdays{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                    "Thursday", "Friday", "Saturday"};

struct Rule {
    std::string_view day;
    std::int64_t from = 0;  // seconds since midnight
    std::int64_t till = 0;
    std::string_view speeds;
};

// The text up to `separator`, which is consumed; nothing when it is missing.
std::optional<std::string_view> TakeField(std::string_view& rest, char separator) {
    const std::size_t at = rest.find(separator);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view field = rest.substr(0, at);
    rest.remove_prefix(at + 1);
    return field;
}

// "H:M" as atoi reads each part; the int range of each part keeps the sum in 64 bits.
std::int64_t SecondsOfDay(std::string_view time) {
    const std::size_t colon = time.find(':');
    const std::int64_t hours = store::ParseProfileInt(time.substr(0, colon));
    const std::int64_t minutes = colon == std::string_view::npos ? 0 : store::ParseProfileInt(time.substr(colon + 1));
    return hours * kSecondsPerHour + minutes * 60;
}

// A rule missing one of its three '-' separators matches nothing.
std::optional<Rule> ParseRule(std::string_view text) {
    text = text.substr(0, kRuleChars);
    const auto day = TakeField(text, '-');
    const auto from = day ? TakeField(text, '-') : std::nullopt;
    const auto till = from ? TakeField(text, '-') : std::nullopt;
    if (!till) return std::nullopt;
    return Rule{*day, SecondsOfDay(*from), SecondsOfDay(*till), text};
}

// The text before the first `separator` and the text after it (empty when there is none).
std::pair<std::string_view, std::string_view> SplitAt(std::string_view text, char separator) {
    const std::size_t at = text.find(separator);
    if (at == std::string_view::npos) return {text, {}};
    return {text.substr(0, at), text.substr(at + 1)};
}

DynamicSpeeds ParseSpeeds(std::string_view list) {
    const auto [receiving, afterReceiving] = SplitAt(list, ',');
    const auto [sending, listing] = SplitAt(afterReceiving, ',');
    return {store::ParseProfileDouble(receiving), store::ParseProfileDouble(sending),
            store::ParseProfileDouble(listing)};
}

std::string_view WeekdayName(int weekday) {
    return weekday >= 0 && weekday < static_cast<int>(kWeekdays.size()) ? kWeekdays[weekday] : std::string_view();
}

bool DayMatches(std::string_view day, std::string_view weekday) {
    return day == "Everyday" || (!weekday.empty() && day == weekday);
}

// Negative speeds would wrap to a limit near 2^32 that pacing never reaches; no limit has
// the same effect without the out-of-range conversion.
SpeedLimit LimitOf(double kbPerSecond) {
    const double bytes = kbPerSecond * 1024.0;
    constexpr std::uint32_t kLargest = std::numeric_limits<std::uint32_t>::max();
    if (!(bytes >= 1.0)) return {};
    if (bytes >= static_cast<double>(kLargest)) return {true, kLargest};
    return {true, static_cast<std::uint32_t>(bytes)};
}

}  // namespace

DynamicSpeeds DynamicLimit(const std::vector<std::string>& rules, const std::tm& now) {
    const std::string_view weekday = WeekdayName(now.tm_wday);
    const std::int64_t seconds = std::int64_t{now.tm_hour} * kSecondsPerHour + std::int64_t{now.tm_min} * 60;
    std::int64_t bestWindow = kNoWindowYet;
    DynamicSpeeds chosen;
    for (const std::string& text : rules) {
        const auto rule = ParseRule(text);
        if (!rule || !DayMatches(rule->day, weekday)) continue;
        if (rule->from > seconds || seconds > rule->till) continue;
        const std::int64_t window = (rule->till - rule->from) / kSecondsPerHour;
        if (window < bestWindow) {
            bestWindow = window;
            chosen = ParseSpeeds(rule->speeds);
        }
    }
    return chosen;
}

double SpeedFor(const DynamicSpeeds& speeds, TransferKind kind) {
    switch (kind) {
    case TransferKind::Sending: return speeds.sending;
    case TransferKind::Receiving: return speeds.receiving;
    case TransferKind::Listing: break;
    }
    return speeds.listing;
}

std::optional<SpeedLimit> ApplySpeedLimit(std::string_view mode, double staticKbPerSecond,
                                          double dynamicKbPerSecond) {
    if (mode == "-1") return SpeedLimit{};
    if (mode == "Static") return LimitOf(staticKbPerSecond);
    if (mode == "Dynamic") return LimitOf(dynamicKbPerSecond);
    return std::nullopt;
}

}  // namespace tolvane::ftp
