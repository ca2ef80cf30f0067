#pragma once

// The argument of EPRT: "<d><family><d><address><d><port><d>" with any printable delimiter.

#include <optional>
#include <string>
#include <string_view>

namespace tolvane::ftp {

struct ExtendedPort {
    int family = 0;  // 1: IPv4, 2: IPv6
    std::string address;
    int port = 0;
};

// Nothing when the argument does not have that form, or the family or port is not a number
// (the port within 1..65535). The address is not checked here.
std::optional<ExtendedPort> ParseExtendedPort(std::string_view argument);

}  // namespace tolvane::ftp
