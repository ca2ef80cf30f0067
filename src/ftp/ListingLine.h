#pragma once

// The Unix-style LIST line of one directory entry, and the bare name NLST sends for it.

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
    std::uint32_t mode = 0;    // the permission bits as stat reports them
};

// A name is a shell link when the text from its first '.' to the end is ".lnk" in any case:
// "a.lnk" and "A.LNK" are links, "a.b.lnk" is not.
bool IsShellLinkName(std::string_view name);

// Whether the entry shows in a listing at all: never "." and "..", nor a name holding CR or LF
// (it would forge lines of its own), nor a hidden entry when `hideHidden`.
bool Listable(const ListingEntry& entry, bool hideHidden);

// The whole line with CR LF, e.g. "-rw-r--r--   1 user     group       1234 Jan  5 09:07 name",
// the date in local time as ls -l shows it: with the time for the last six months before
// `now`, with the year instead for older entries and for those after `now`. Nothing for
// entries that are not Listable. A shell link (never a directory) shows
// "<title> -> <target>", or a bare CR LF when `showRelativePath`.
std::optional<std::string> FormatListingLine(const ListingEntry& entry, bool hideHidden, bool showRelativePath,
                                             std::time_t now);

// The NLST line: `prefix` (the folder part the client named) and the name, with CR LF. Nothing
// for entries that are not Listable, and for shell links when `showRelativePath`, whose
// targets a relative session does not see.
std::optional<std::string> FormatNameLine(const ListingEntry& entry, bool hideHidden, bool showRelativePath,
                                          std::string_view prefix);

}  // namespace tolvane::ftp
