#pragma once

// The machine-readable facts of MLSD and MLST lines, and the UTC time stamps of MDTM and MFMT.

#include "ftp/PermissionSet.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::ftp {

// One bit per fact a client may ask for with OPTS MLST, in the order they are written.
enum Fact : unsigned {
    kFactType = 1u << 0,
    kFactSize = 1u << 1,
    kFactModify = 1u << 2,
    kFactPerm = 1u << 3,
    kFactUnique = 1u << 4,
    kFactMode = 1u << 5,
};
constexpr unsigned kAllFacts = kFactType | kFactSize | kFactModify | kFactPerm | kFactUnique | kFactMode;

enum class FactKind { File, Directory, CurrentDirectory };

struct FactEntry {
    FactKind kind = FactKind::File;
    std::int64_t size = 0;
    std::time_t modified = 0;
    std::uint32_t mode = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // The rights in the folder that holds the entry, and for a folder its own rights.
    PermissionSet holder = {};
    PermissionSet own = {};
};

// "type=file;size=5;modify=20240105090700;perm=adfrw;unique=803U1a2b;UNIX.mode=0644; ", the
// selected facts with the trailing blank that precedes the name. A folder has no size fact.
std::string FactsText(const FactEntry& entry, unsigned facts);

// The perm fact's letters: for a file what the holding folder allows on it; for a folder its
// own rights (create, enter, list, make folders, purge; none when it is denied) and, but for the
// listed folder itself, delete and rename from the holding folder.
std::string PermFact(const FactEntry& entry);

// "YYYYMMDDHHMMSS" in UTC.
std::string UtcTimestamp(std::time_t when);
// The time a "YYYYMMDDHHMMSS" text names, fractions of a second (".sss") allowed and dropped;
// nothing for any other text or a date that does not exist.
std::optional<std::time_t> ParseUtcTimestamp(std::string_view text);

// The facts named in an OPTS MLST argument ("type;size;"), case ignored; unknown names are
// left out.
unsigned ParseFactList(std::string_view text);
// "type;size;" of the selected facts; with `all`, every fact, the selected ones starred (FEAT).
std::string FactListText(unsigned selected, bool all);

}  // namespace tolvane::ftp
