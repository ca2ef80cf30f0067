#include "net/ProxyHeader.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace tolvane::net {
namespace {

constexpr std::string_view kTextStart = "PROXY ";
constexpr std::size_t kTextLimit = 107;
constexpr std::string_view kBinarySignature{"\r\n\r\n\0\r\nQUIT\n", 12};
constexpr std::size_t kBinaryFixed = 16;  // signature, version and command, family, length
constexpr unsigned char kFamilyTcp4 = 0x11;
constexpr unsigned char kFamilyTcp6 = 0x21;

ProxyHeader Invalid() { return {ProxyHeader::Status::Invalid, 0, std::nullopt}; }
ProxyHeader Incomplete() { return {}; }

bool IsPrefixOf(std::string_view bytes, std::string_view whole) {
    const std::size_t common = std::min(bytes.size(), whole.size());
    return bytes.substr(0, common) == whole.substr(0, common);
}

std::vector<std::string_view> SplitBlanks(std::string_view line) {
    std::vector<std::string_view> words;
    for (std::size_t at; (at = line.find(' ')) != std::string_view::npos; line.remove_prefix(at + 1))
        words.push_back(line.substr(0, at));
    words.push_back(line);
    return words;
}

std::optional<std::uint16_t> PortText(std::string_view text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const unsigned long port = std::stoul(std::string(text));
    if (port > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

// "PROXY TCP4 <source> <destination> <source port> <destination port>\r\n", or "PROXY UNKNOWN ...".
ProxyHeader ParseText(std::string_view bytes) {
    const std::size_t end = bytes.find("\r\n");
    if (end == std::string_view::npos) return bytes.size() < kTextLimit ? Incomplete() : Invalid();
    if (end + 2 > kTextLimit) return Invalid();
    const auto words = SplitBlanks(bytes.substr(kTextStart.size(), end - kTextStart.size()));
    const ProxyHeader local{ProxyHeader::Status::Complete, end + 2, std::nullopt};
    if (words.front() == "UNKNOWN") return local;
    if (words.size() != 5 || (words[0] != "TCP4" && words[0] != "TCP6")) return Invalid();
    const int family = words[0] == "TCP4" ? AF_INET : AF_INET6;
    const auto port = PortText(words[3]);
    const auto source = port ? Endpoint::Parse(words[1], *port) : std::nullopt;
    const auto destination = Endpoint::Parse(words[2]);
    if (!source || !destination || source->Family() != family || destination->Family() != family ||
        !PortText(words[4]))
        return Invalid();
    return {ProxyHeader::Status::Complete, end + 2, source};
}

std::optional<Endpoint> BinaryAddress(const unsigned char* at, unsigned char family, std::size_t length) {
    sockaddr_storage storage{};
    if (family == kFamilyTcp4 && length >= 12) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
        v4.sin_family = AF_INET;
        std::memcpy(&v4.sin_addr, at, 4);
        std::memcpy(&v4.sin_port, at + 8, 2);
        return Endpoint::FromSockaddr(reinterpret_cast<const sockaddr*>(&storage), sizeof(sockaddr_in));
    }
    if (family == kFamilyTcp6 && length >= 36) {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
        v6.sin6_family = AF_INET6;
        std::memcpy(&v6.sin6_addr, at, 16);
        std::memcpy(&v6.sin6_port, at + 32, 2);
        return Endpoint::FromSockaddr(reinterpret_cast<const sockaddr*>(&storage), sizeof(sockaddr_in6));
    }
    return std::nullopt;
}

// Signature, version 2 with command LOCAL (0) or PROXY (1), family, length, addresses, then
// extensions that are skipped.
ProxyHeader ParseBinary(std::string_view bytes) {
    if (bytes.size() < kBinaryFixed) return Incomplete();
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char versionCommand = raw[12];
    const unsigned char family = raw[13];
    const std::size_t length = (static_cast<std::size_t>(raw[14]) << 8) | raw[15];
    if ((versionCommand >> 4) != 2 || (versionCommand & 0x0F) > 1) return Invalid();
    if (bytes.size() < kBinaryFixed + length) return Incomplete();
    const ProxyHeader local{ProxyHeader::Status::Complete, kBinaryFixed + length, std::nullopt};
    if ((versionCommand & 0x0F) == 0) return local;
    if (family != kFamilyTcp4 && family != kFamilyTcp6) return local;
    const auto client = BinaryAddress(raw + kBinaryFixed, family, length);
    if (!client) return Invalid();
    return {ProxyHeader::Status::Complete, kBinaryFixed + length, client};
}

}  // namespace

ProxyHeader ParseProxyHeader(std::string_view bytes) {
    if (bytes.starts_with(kTextStart)) return ParseText(bytes);
    if (bytes.starts_with(kBinarySignature)) return ParseBinary(bytes);
    return IsPrefixOf(bytes, kTextStart) || IsPrefixOf(bytes, kBinarySignature) ? Incomplete() : Invalid();
}

bool OpensProxyHeader(std::string_view bytes) {
    return bytes.starts_with(kTextStart) || bytes.starts_with(kBinarySignature);
}

}  // namespace tolvane::net
