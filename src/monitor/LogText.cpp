#include "monitor/LogText.h"

#include <algorithm>

namespace tolvane::monitor {
namespace {

constexpr char kDelete = 0x7f;

bool IsControl(char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == kDelete; }

bool KeptAt(std::string_view text, std::size_t at) {
    const char c = text[at];
    return c == '\n' || (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n');
}

}  // namespace

std::string EscapeControlCharacters(std::string_view text) {
    if (std::none_of(text.begin(), text.end(), IsControl)) return std::string(text);
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char c = text[at];
        if (!IsControl(c) || KeptAt(text, at)) {
            escaped += c;
            continue;
        }
        escaped += '^';
        escaped += static_cast<char>(c ^ 0x40);
    }
    return escaped;
}

}  // namespace tolvane::monitor
