#pragma once

// The header a load balancer puts before a connection's own bytes to name the client it
// forwards (HAProxy's PROXY protocol, the text form 1 and the binary form 2).

#include "net/Endpoint.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace tolvane::net {

struct ProxyHeader {
    enum class Status { Incomplete, Invalid, Complete };
    Status status = Status::Incomplete;
    std::size_t length = 0;         // bytes of the header, once complete
    std::optional<Endpoint> client;  // none for the balancer's own checks (LOCAL, UNKNOWN)
};

// Reads a header at the start of `bytes`. Incomplete while a prefix of a header could still grow
// into one (form 1 is at most 107 bytes); anything else that is not a header is Invalid.
ProxyHeader ParseProxyHeader(std::string_view bytes);

// The bytes begin with the opening of a header of either form ("PROXY " or the signature).
bool OpensProxyHeader(std::string_view bytes);

}  // namespace tolvane::net
