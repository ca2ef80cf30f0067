#include "clients/VersionInfo.h"

namespace tolvane::clients {
namespace {

// The line at `start` up to its LF (or the end of the text); moves `start` past the LF.
std::string_view TakeLine(std::string_view text, std::size_t& start) {
    if (start >= text.size()) return {};
    const std::size_t end = text.find('\n', start);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    const std::string_view line = text.substr(start, stop - start);
    start = end == std::string_view::npos ? text.size() : end + 1;
    return line;
}

}  // namespace

VersionInfo ParseVersionInfo(std::string_view text) {
    VersionInfo info;
    std::size_t start = 0;
    info.version = TakeLine(text, start);
    info.build = TakeLine(text, start);
    info.date = TakeLine(text, start);
    for (std::size_t end = text.find('\n', start); end != std::string_view::npos; end = text.find('\n', start)) {
        info.description.append(text.substr(start, end - start));
        info.description.append("\r\n");
        start = end + 1;
    }
    return info;
}

}  // namespace tolvane::clients
