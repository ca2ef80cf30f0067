#include "monitor/RecordStamp.h"

#include <array>
#include <cstdio>
#include <optional>

namespace tolvane::monitor {

namespace {

constexpr std::array<const char*, 7> kWeekdays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string Format(std::time_t t) {
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return {};
    }
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%s,%02d%s%04d-%02d:%02d:%02d",
                  kWeekdays.at(local.tm_wday), local.tm_mday, kMonths.at(local.tm_mon),
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    return text.data();
}

}  // namespace

// Every log line is stamped, and localtime_r takes a process-wide lock: each thread formats a
// given second once.
std::string FormatRecordStamp(std::time_t t) {
    thread_local std::optional<std::time_t> formattedTime;
    thread_local std::string formatted;
    if (formattedTime != t) {
        formatted = Format(t);
        formattedTime = t;
    }
    return formatted;
}

std::string FormatRecordStampNow() {
    return FormatRecordStamp(std::time(nullptr));
}

}  // namespace tolvane::monitor
