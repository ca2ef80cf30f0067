#pragma once

// The version file of the update host: lines separated by LF, the latest version, build and
// date, then the description, one line each.

#include <string>
#include <string_view>

namespace tolvane::clients {

struct VersionInfo {
    std::string version;
    std::string build;
    std::string date;
    // Every further line that ends in LF, each followed by CR LF; a last line without LF is
    // dropped. A CR before an LF stays part of its line.
    std::string description;
};

VersionInfo ParseVersionInfo(std::string_view text);

}  // namespace tolvane::clients
