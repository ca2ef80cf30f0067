#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tolvane::net {

// An IPv4 or IPv6 address with a port: what a socket binds to, connects to or is named by.
class Endpoint {
public:
    // No address yet; Valid() is false.
    Endpoint() = default;
    // Every local IPv4 address.
    static Endpoint AnyIPv4(std::uint16_t port = 0);
    // Every local address of the family (AF_INET or AF_INET6).
    static Endpoint AnyOf(int family, std::uint16_t port = 0);
    // A numeric address: a dotted quad or IPv6 text without brackets. Nothing else is read, so a
    // stored address can never turn into a name lookup.
    static std::optional<Endpoint> Parse(std::string_view address, std::uint16_t port = 0);
    // A numeric address as above, else the host's first address from the resolver (IPv4 first,
    // as the rest of the system still speaks it).
    static std::optional<Endpoint> Resolve(const std::string& host, std::uint16_t port);
    // What the kernel reported (accept, getsockname, getpeername); nothing for other families.
    // An IPv4 peer of a dual-stack socket ("::ffff:10.0.0.1") comes back as the IPv4 address it
    // is, so rules, logs and data connections see one form per client.
    static std::optional<Endpoint> FromSockaddr(const sockaddr* address, socklen_t length);

    bool Valid() const { return storage_.ss_family == AF_INET || storage_.ss_family == AF_INET6; }
    int Family() const { return storage_.ss_family; }
    std::uint16_t Port() const;
    Endpoint WithPort(std::uint16_t port) const;
    // The address alone, as inet_ntop writes it: "127.0.0.1", "2001:db8::5".
    std::string Address() const;
    // Address and port as people write them: "127.0.0.1:21", "[2001:db8::5]:21".
    std::string AddressAndPort() const;
    // Same address, whatever the ports.
    bool SameAddress(const Endpoint& other) const;

    const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&storage_); }
    socklen_t RawLength() const;

private:
    static Endpoint MappedIPv4(const struct sockaddr_in6& mapped);

    sockaddr_storage storage_{};
};

}  // namespace tolvane::net
