#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tolvane::ftp {

// Transfer rows are refreshed at most this often.
inline constexpr std::chrono::milliseconds kProgressInterval{250};

// "12.345 kb/s" over whole seconds; under one second the bytes so far count as the rate.
std::string RateText(std::int64_t bytes, double seconds);
// "45.10 % / 123.0 kb" of a download; an empty file is complete.
std::string DownloadStatusText(std::int64_t sent, std::int64_t total);
// "? % / 12.5 kb" of an upload, whose end is unknown.
std::string UploadStatusText(std::int64_t received);

}  // namespace tolvane::ftp
