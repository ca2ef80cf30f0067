#include "net/Endpoint.h"

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>

namespace tolvane::net {
namespace {

sockaddr_in& AsV4(sockaddr_storage& storage) { return reinterpret_cast<sockaddr_in&>(storage); }
const sockaddr_in& AsV4(const sockaddr_storage& storage) { return reinterpret_cast<const sockaddr_in&>(storage); }
sockaddr_in6& AsV6(sockaddr_storage& storage) { return reinterpret_cast<sockaddr_in6&>(storage); }
const sockaddr_in6& AsV6(const sockaddr_storage& storage) { return reinterpret_cast<const sockaddr_in6&>(storage); }

struct AddrInfoRelease {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

}  // namespace

Endpoint Endpoint::MappedIPv4(const sockaddr_in6& mapped) {
    Endpoint endpoint;
    AsV4(endpoint.storage_).sin_family = AF_INET;
    std::memcpy(&AsV4(endpoint.storage_).sin_addr, &mapped.sin6_addr.s6_addr[12], sizeof(in_addr));
    AsV4(endpoint.storage_).sin_port = mapped.sin6_port;
    return endpoint;
}

Endpoint Endpoint::AnyIPv4(std::uint16_t port) {
    Endpoint endpoint;
    AsV4(endpoint.storage_).sin_family = AF_INET;
    AsV4(endpoint.storage_).sin_addr.s_addr = htonl(INADDR_ANY);
    AsV4(endpoint.storage_).sin_port = htons(port);
    return endpoint;
}

Endpoint Endpoint::AnyOf(int family, std::uint16_t port) {
    if (family != AF_INET6) return AnyIPv4(port);
    Endpoint endpoint;
    AsV6(endpoint.storage_).sin6_family = AF_INET6;
    AsV6(endpoint.storage_).sin6_addr = in6addr_any;
    AsV6(endpoint.storage_).sin6_port = htons(port);
    return endpoint;
}

std::optional<Endpoint> Endpoint::Parse(std::string_view address, std::uint16_t port) {
    if (address.empty() || address.size() >= INET6_ADDRSTRLEN) return std::nullopt;
    const std::string text(address);
    Endpoint endpoint;
    if (inet_pton(AF_INET, text.c_str(), &AsV4(endpoint.storage_).sin_addr) == 1) {
        AsV4(endpoint.storage_).sin_family = AF_INET;
        AsV4(endpoint.storage_).sin_port = htons(port);
        return endpoint;
    }
    if (inet_pton(AF_INET6, text.c_str(), &AsV6(endpoint.storage_).sin6_addr) == 1) {
        AsV6(endpoint.storage_).sin6_family = AF_INET6;
        AsV6(endpoint.storage_).sin6_port = htons(port);
        return endpoint;
    }
    return std::nullopt;
}

std::optional<Endpoint> Endpoint::Resolve(const std::string& host, std::uint16_t port) {
    if (auto numeric = Parse(host, port)) return numeric;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
    const std::unique_ptr<addrinfo, AddrInfoRelease> list(found);
    const addrinfo* chosen = nullptr;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET) {
            chosen = entry;
            break;
        }
        if (chosen == nullptr && entry->ai_family == AF_INET6) chosen = entry;
    }
    if (chosen == nullptr) return std::nullopt;
    const auto endpoint = FromSockaddr(chosen->ai_addr, chosen->ai_addrlen);
    return endpoint ? std::optional(endpoint->WithPort(port)) : std::nullopt;
}

std::optional<Endpoint> Endpoint::FromSockaddr(const sockaddr* address, socklen_t length) {
    if (address == nullptr) return std::nullopt;
    Endpoint endpoint;
    if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        std::memcpy(&endpoint.storage_, address, sizeof(sockaddr_in));
        return endpoint;
    }
    if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        std::memcpy(&endpoint.storage_, address, sizeof(sockaddr_in6));
        if (IN6_IS_ADDR_V4MAPPED(&AsV6(endpoint.storage_).sin6_addr)) return MappedIPv4(AsV6(endpoint.storage_));
        return endpoint;
    }
    return std::nullopt;
}

std::uint16_t Endpoint::Port() const {
    if (Family() == AF_INET) return ntohs(AsV4(storage_).sin_port);
    if (Family() == AF_INET6) return ntohs(AsV6(storage_).sin6_port);
    return 0;
}

Endpoint Endpoint::WithPort(std::uint16_t port) const {
    Endpoint copy = *this;
    if (Family() == AF_INET) AsV4(copy.storage_).sin_port = htons(port);
    if (Family() == AF_INET6) AsV6(copy.storage_).sin6_port = htons(port);
    return copy;
}

std::string Endpoint::Address() const {
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw = nullptr;
    if (Family() == AF_INET) raw = &AsV4(storage_).sin_addr;
    if (Family() == AF_INET6) raw = &AsV6(storage_).sin6_addr;
    if (raw == nullptr || inet_ntop(Family(), raw, text, sizeof text) == nullptr) return {};
    return text;
}

std::string Endpoint::AddressAndPort() const {
    const std::string address = Family() == AF_INET6 ? "[" + Address() + "]" : Address();
    return address + ":" + std::to_string(Port());
}

bool Endpoint::SameAddress(const Endpoint& other) const {
    if (Family() != other.Family()) return false;
    if (Family() == AF_INET) return AsV4(storage_).sin_addr.s_addr == AsV4(other.storage_).sin_addr.s_addr;
    if (Family() == AF_INET6)
        return std::memcmp(&AsV6(storage_).sin6_addr, &AsV6(other.storage_).sin6_addr, sizeof(in6_addr)) == 0;
    return false;
}

socklen_t Endpoint::RawLength() const {
    if (Family() == AF_INET) return sizeof(sockaddr_in);
    if (Family() == AF_INET6) return sizeof(sockaddr_in6);
    return 0;
}

}  // namespace tolvane::net
