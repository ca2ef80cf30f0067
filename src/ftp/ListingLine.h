#pragma once

// The Unix-style LIST line of one directory entry.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::ftp {

struct ListingEntry {
    std::string name;
    bool isDirectory = false;
    std::int64_t size = 0;
    std::time_t modified = 0;
    bool hidden = false;       // the caller decides; here: the name begins with '.'
    std::string linkTarget;    // resolved target of a shell link, empty otherwise
};

// A name is a shell link when the text from its first '.' to the end is ".lnk" in any case:
// "a.lnk" and "A.LNK" are links, "a.b.lnk" is not.
bool IsShellLinkName(std::string_view name);

// The whole line with CR LF, e.g. "-rwx------   1 user     group       1234 Jan  5 09:07 name",
// the time in local time and without a year. Nothing for "." and "..", and for hidden entries
// when `hideHidden`. A shell link (never a directory) shows "<title> -> <target>", or a bare
// CR LF when `showRelativePath`.
std::optional<std::string> FormatListingLine(const ListingEntry& entry, bool hideHidden, bool showRelativePath);

}  // namespace tolvane::ftp
