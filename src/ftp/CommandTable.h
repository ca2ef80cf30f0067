#pragma once

#include "ftp/PathResolver.h"
#include "ftp/PermissionSet.h"

#include <span>
#include <string>
#include <string_view>

namespace tolvane::ftp {

class ControlConnection;

// Which folder's rules decide whether a verb may run.
enum class RuleFolder {
    None,     // no rule letter is checked before the handler
    Entry,    // the folder that holds the named entry
    Target,   // the folder the named entry really lies in, links followed
};

// What a handler gets: the argument and, for a verb checked against a named entry's folder,
// that entry as the check resolved it.
struct CommandRequest {
    std::string argument;
    std::string name;  // the argument as the verb names its entry
    ResolvedEntry entry;
};

// One verb and what Dispatch checks before its handler runs, in this order: the login, a
// transfer slot, then the rule letter (a name outside the home is refused as a missing letter).
// A check whose reply must come later stays in the handler.
struct CommandRow {
    using Handler = void (ControlConnection::*)(const CommandRequest& request);

    std::string_view verb;
    bool needsLogin = true;
    bool takesTransferSlot = false;
    RuleFolder folder = RuleFolder::None;
    bool PermissionSet::*letter = nullptr;
    // Shown in the HELP listing.
    bool listed = true;
    // The line FEAT shows for this verb; empty: none.
    std::string_view feature = {};
    // FEAT shows the feature only where the IP home serves TLS.
    bool secure = false;
    // The name the argument stands for; null: the argument itself.
    std::string (*nameOf)(const std::string& argument) = nullptr;
    Handler handler = nullptr;
};

// The HELP reply: the listed verbs in alphabetical order, eight to a line in columns of four.
std::string HelpReply(std::span<const CommandRow> rows);

// The FEAT reply: the rows' features in alphabetical order, the secure ones only when
// `secureOffered`; the MLST line carries `mlstFacts`.
std::string FeatReply(std::span<const CommandRow> rows, std::string_view mlstFacts, bool secureOffered);

// A name with a drive is stored under its last component in the current directory.
std::string StoredName(const std::string& argument);

// The path of "MFMT <time> <path>": what follows the first blank.
std::string TimedName(const std::string& argument);

}  // namespace tolvane::ftp
