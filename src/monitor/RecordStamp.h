#pragma once

#include <ctime>
#include <string>

namespace tolvane::monitor {

// Local time as "%a,%d%b%Y-%H:%M:%S", e.g. "Mon,07Dec2026-22:46:37". The weekday and month
// names are always English: the window changes the process locale, the log format must not
// follow it. Empty when the time cannot be converted.
std::string FormatRecordStamp(std::time_t t);
std::string FormatRecordStampNow();

}  // namespace tolvane::monitor
