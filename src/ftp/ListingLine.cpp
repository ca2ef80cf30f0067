#include "ftp/ListingLine.h"

#include "net/AsciiText.h"

#include <array>
#include <cstddef>
#include <cstdio>

namespace tolvane::ftp {
namespace {

constexpr std::string_view kLinkExtension = ".lnk";
constexpr std::string_view kModeOwnerGroup = "rwx------   1 user     group ";
constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "Mai", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A time localtime_r cannot represent shows as the epoch rather than as garbage.
std::tm LocalTime(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        const std::time_t epoch = 0;
        localtime_r(&epoch, &local);
    }
    return local;
}

// Right-aligned in ten places; wider numbers take the room they need.
std::string SizeField(std::int64_t size) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%10lld", static_cast<long long>(size));
    return text.data();
}

// " Mon dd HH:MM " of the last write.
std::string DateField(std::time_t modified) {
    const std::tm local = LocalTime(modified);
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), " %s %2d %02d:%02d ", kMonths[static_cast<std::size_t>(local.tm_mon)],
                  local.tm_mday, local.tm_hour, local.tm_min);
    return text.data();
}

// The name without its extension.
std::string_view Title(std::string_view name) { return name.substr(0, name.rfind('.')); }

}  // namespace

bool IsShellLinkName(std::string_view name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view extension = name.substr(dot);
    return net::SameIgnoringAsciiCase(extension, kLinkExtension);
}

std::optional<std::string> FormatListingLine(const ListingEntry& entry, bool hideHidden, bool showRelativePath) {
    if (entry.name == "." || entry.name == "..") return std::nullopt;
    if (hideHidden && entry.hidden) return std::nullopt;
    const bool link = !entry.isDirectory && IsShellLinkName(entry.name);
    if (link && showRelativePath) return "\r\n";
    std::string line(1, entry.isDirectory ? 'd' : link ? 'l' : '-');
    line += kModeOwnerGroup;
    line += SizeField(entry.size);
    line += DateField(entry.modified);
    if (link) {
        line += Title(entry.name);
        line += " -> ";
        line += entry.linkTarget;
    } else {
        line += entry.name;
    }
    line += "\r\n";
    return line;
}

}  // namespace tolvane::ftp
