#pragma once

#include "net/AsciiText.h"

#include <string_view>

namespace tolvane::ftp {

// Verbs compare whole and without regard to ASCII case.
inline bool SameVerb(std::string_view a, std::string_view b) { return net::SameIgnoringAsciiCase(a, b); }

}  // namespace tolvane::ftp
