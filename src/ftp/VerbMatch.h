#pragma once

#include <algorithm>
#include <string_view>

namespace tolvane::ftp {

// Verbs compare whole and without regard to ASCII case.
inline bool SameVerb(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace tolvane::ftp
