#pragma once

#include <string>
#include <string_view>

namespace tolvane::monitor {

// Log text as it may reach a terminal or a log file: control characters that clients can put
// in names and commands are shown in caret notation ("\x1b" as "^[", DEL as "^?"), so that no
// client rewrites what the administrator's terminal shows. Line ends (LF, CR LF) and tabs stay.
std::string EscapeControlCharacters(std::string_view text);

}  // namespace tolvane::monitor
