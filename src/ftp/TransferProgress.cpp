#include "ftp/TransferProgress.h"

#include <algorithm>
#include <cstdio>

namespace tolvane::ftp {
namespace {

template <typename... Values>
std::string Format(const char* format, Values... values) {
    char text[96];
    const int length = std::snprintf(text, sizeof text, format, values...);
    return std::string(text, static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(sizeof text) - 1)));
}

}  // namespace

std::string RateText(std::int64_t bytes, double seconds) {
    return Format("%.3f kb/s", static_cast<double>(bytes) / std::max(1.0, seconds) / 1024.0);
}

std::string DownloadStatusText(std::int64_t sent, std::int64_t total) {
    const double percent = total > 0 ? 100.0 / static_cast<double>(total) * static_cast<double>(sent) : 100.0;
    return Format("%.2f %% / %s", percent, Format("%.1f kb", static_cast<double>(sent) / 1024.0).c_str());
}

std::string UploadStatusText(std::int64_t received) {
    return Format("? %% / %.1f kb", static_cast<double>(received) / 1024.0);
}

}  // namespace tolvane::ftp
