#include "ftp/ExtendedPort.h"

#include <vector>

namespace tolvane::ftp {
namespace {

constexpr int kHighestPort = 65535;

// A decimal number of at most five digits.
std::optional<int> SmallNumber(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::optional<ExtendedPort> ParseExtendedPort(std::string_view argument) {
    if (argument.size() < 2) return std::nullopt;
    const char delimiter = argument.front();
    if (delimiter < 33 || delimiter > 126 || argument.back() != delimiter) return std::nullopt;
    std::vector<std::string_view> fields;
    std::string_view rest = argument.substr(1, argument.size() - 2);
    for (std::size_t at; (at = rest.find(delimiter)) != std::string_view::npos; rest.remove_prefix(at + 1))
        fields.push_back(rest.substr(0, at));
    fields.push_back(rest);
    if (fields.size() != 3) return std::nullopt;
    const auto family = SmallNumber(fields[0]);
    const auto port = SmallNumber(fields[2]);
    if (!family || !port || *port < 1 || *port > kHighestPort || fields[1].empty()) return std::nullopt;
    return ExtendedPort{*family, std::string(fields[1]), *port};
}

}  // namespace tolvane::ftp
