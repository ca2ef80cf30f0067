#pragma once

// Case folding for protocol and file texts: ASCII letters only, whatever the locale, since
// tolower() on a byte above 127 is undefined and locale case rules would differ.

#include <algorithm>
#include <string>
#include <string_view>

namespace tolvane::net {

constexpr char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string LowerAsciiText(std::string_view text) {
    std::string lower(text);
    std::ranges::transform(lower, lower.begin(), LowerAscii);
    return lower;
}

inline bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, {}, LowerAscii, LowerAscii);
}

// One to `most` ASCII digits and nothing else.
constexpr bool IsAsciiDigits(std::string_view text, std::size_t most) {
    return !text.empty() && text.size() <= most && text.find_first_not_of("0123456789") == std::string_view::npos;
}

inline bool BeginsIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace tolvane::net
