#include "ftp/ControlConnection.h"

#include "net/ProxyHeader.h"

#include <algorithm>

namespace tolvane::ftp {

// A trusted proxy must say whom it forwards; anyone else may not claim to be forwarded, or a
// client could pick the address that IP rules and failed-login counts see.
bool ControlConnection::AwaitsProxyHeader(const net::Endpoint& peer) {
    const auto& proxies = ipHome_->trustedProxies;
    if (proxies.empty()) return false;
    const bool trusted = std::any_of(proxies.begin(), proxies.end(),
                                     [&](const net::Endpoint& proxy) { return proxy.SameAddress(peer); });
    proxyCheck_ = trusted ? ProxyCheck::Header : ProxyCheck::NoHeader;
    return trusted;
}

std::string ControlConnection::TakeProxyBytes(std::string_view bytes) {
    const net::Endpoint peer = PeerName().value_or(net::Endpoint{});
    if (proxyCheck_ == ProxyCheck::NoHeader) {
        proxyCheck_ = ProxyCheck::Done;
        if (!net::OpensProxyHeader(bytes)) return std::string(bytes);
        SystemMessage(Tag() + "PROXY header refused from untrusted " + peer.Address() + "\r\n", monitor::ErrorMessage);
        Close();
        return {};
    }
    proxyBytes_.append(bytes);
    const net::ProxyHeader header = net::ParseProxyHeader(proxyBytes_);
    if (header.status == net::ProxyHeader::Status::Incomplete) return {};
    proxyCheck_ = ProxyCheck::Done;
    if (header.status == net::ProxyHeader::Status::Invalid) {
        SystemMessage(Tag() + "No valid PROXY header from trusted proxy " + peer.Address() + "\r\n",
                      monitor::ErrorMessage);
        Close();
        return {};
    }
    // The balancer's own health checks name nobody: they are served as the balancer.
    SendGreeting(header.client.value_or(peer));
    return std::exchange(proxyBytes_, {}).substr(header.length);
}

}  // namespace tolvane::ftp
