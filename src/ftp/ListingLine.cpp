#include "ftp/ListingLine.h"

#include "net/AsciiText.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <sys/stat.h>

namespace tolvane::ftp {
namespace {

constexpr std::string_view kLinkExtension = ".lnk";
constexpr std::string_view kOwnerGroup = "   1 user     group ";
constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// Half a Gregorian year, the span ls -l shows with the time of day.
constexpr std::time_t kSixMonths = 31556952 / 2;

// A time localtime_r cannot represent shows as the epoch rather than as garbage.
std::tm LocalTime(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        const std::time_t epoch = 0;
        localtime_r(&epoch, &local);
    }
    return local;
}

// "rwxr-x---" with the set-id and sticky bits as ls -l shows them.
void AppendPermissions(std::string& line, std::uint32_t mode) {
    std::array<char, 9> text{};
    constexpr std::uint32_t kBits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = mode & kBits[i] ? "rwx"[i % 3] : '-';
    const auto special = [&text](std::size_t at, bool set, char executable, char plain) {
        if (set) text[at] = text[at] == 'x' ? executable : plain;
    };
    special(2, mode & S_ISUID, 's', 'S');
    special(5, mode & S_ISGID, 's', 'S');
    special(8, mode & S_ISVTX, 't', 'T');
    line.append(text.data(), text.size());
}

// Right-aligned in `width` places filled with `fill`; wider numbers take the room they need.
// Formatted by hand: a listing makes a few of these per entry, and printf was most of its cost.
void AppendNumber(std::string& line, long long value, std::size_t width, char fill) {
    std::array<char, 24> digits{};
    const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    const auto length = static_cast<std::size_t>(end - digits.data());
    if (length < width) line.append(width - length, fill);
    line.append(digits.data(), length);
}

// " Mon dd HH:MM " for the last six months, " Mon dd  yyyy " otherwise.
void AppendDate(std::string& line, std::time_t modified, std::time_t now) {
    const std::tm local = LocalTime(modified);
    const bool recent = modified <= now && modified > now - kSixMonths;
    line += ' ';
    line += kMonths[static_cast<std::size_t>(local.tm_mon)];
    line += ' ';
    AppendNumber(line, local.tm_mday, 2, ' ');
    line += ' ';
    if (recent) {
        AppendNumber(line, local.tm_hour, 2, '0');
        line += ':';
        AppendNumber(line, local.tm_min, 2, '0');
    } else {
        line += ' ';
        AppendNumber(line, local.tm_year + 1900LL, 0, ' ');
    }
    line += ' ';
}

// The name without its extension.
std::string_view Title(std::string_view name) { return name.substr(0, name.rfind('.')); }

bool IsShellLink(const ListingEntry& entry) { return !entry.isDirectory && IsShellLinkName(entry.name); }

}  // namespace

bool IsShellLinkName(std::string_view name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view extension = name.substr(dot);
    return net::SameIgnoringAsciiCase(extension, kLinkExtension);
}

bool Listable(const ListingEntry& entry, bool hideHidden) {
    if (entry.name == "." || entry.name == "..") return false;
    // Two scans: find_first_of would scan the pair once per character.
    if (entry.name.find('\r') != std::string::npos || entry.name.find('\n') != std::string::npos) return false;
    return !(hideHidden && entry.hidden);
}

std::optional<std::string> FormatListingLine(const ListingEntry& entry, bool hideHidden, bool showRelativePath,
                                             std::time_t now) {
    if (!Listable(entry, hideHidden)) return std::nullopt;
    const bool link = IsShellLink(entry);
    if (link && showRelativePath) return "\r\n";
    std::string line(1, entry.isDirectory ? 'd' : link ? 'l' : '-');
    AppendPermissions(line, entry.mode);
    line += kOwnerGroup;
    AppendNumber(line, entry.size, 10, ' ');
    AppendDate(line, entry.modified, now);
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

std::optional<std::string> FormatNameLine(const ListingEntry& entry, bool hideHidden, bool showRelativePath,
                                          std::string_view prefix) {
    if (!Listable(entry, hideHidden) || (showRelativePath && IsShellLink(entry))) return std::nullopt;
    std::string line(prefix);
    line += entry.name;
    line += "\r\n";
    return line;
}

}  // namespace tolvane::ftp
