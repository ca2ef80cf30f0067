#include "clients/PlainExchange.h"

#include <algorithm>

namespace tolvane::clients {
namespace {

constexpr std::chrono::milliseconds kCancelSlice{100};
// A blocking connect cannot be cancelled; it is kept short so that a cancel waits for little.
constexpr std::chrono::milliseconds kConnectTimeout{10'000};

}  // namespace

bool ReceiveSome(net::EventSocket& socket, std::string& buffer, std::size_t room, const WaitLimits& limits) {
    if (room == 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + limits.timeout;
    while (!limits.Cancelled()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (!socket.WaitReadable(std::min(left, kCancelSlice))) {
            if (!socket.IsOpen()) return false;
            continue;
        }
        char chunk[1024];
        const net::IoResult received = socket.Receive(chunk, std::min(room, sizeof chunk));
        if (received.WouldBlock()) continue;
        if (!received.Moved()) return false;
        buffer.append(chunk, received.bytes);
        return true;
    }
    return false;
}

bool SendAll(net::EventSocket& socket, std::string_view data) {
    while (!data.empty()) {
        const net::IoResult sent = socket.Send(data.data(), data.size());
        if (!sent.Moved()) return false;
        data.remove_prefix(sent.bytes);
    }
    return true;
}

bool ConnectPlain(net::EventSocket& socket, const std::string& host, int port, const WaitLimits& limits) {
    if (port <= 0 || port > 65535 || limits.Cancelled()) return false;
    return socket.SetPlainTimeout(std::min(limits.timeout, kConnectTimeout)) &&
           socket.Connect(host, static_cast<std::uint16_t>(port)) && socket.SetPlainTimeout(limits.timeout);
}

}  // namespace tolvane::clients
