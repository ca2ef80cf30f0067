#pragma once

#include "net/EventSocket.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

namespace tolvane::clients {

// How long a plain-mode client waits for a reply, and the flag that makes it give up at once.
struct WaitLimits {
    std::chrono::milliseconds timeout{30'000};
    const std::atomic<bool>* cancel = nullptr;

    bool Cancelled() const { return cancel != nullptr && cancel->load(); }
};

// Appends what one receive brings, at most `room` bytes, waiting in short slices so that a
// raised cancel flag is seen at once. False on time-out, cancel, error or the peer's close.
bool ReceiveSome(net::EventSocket& socket, std::string& buffer, std::size_t room, const WaitLimits& limits);

// Sends all of `data`; false on error.
bool SendAll(net::EventSocket& socket, std::string_view data);

// Connects a plain-mode socket within the time-out (at most ten seconds).
bool ConnectPlain(net::EventSocket& socket, const std::string& host, int port, const WaitLimits& limits);

}  // namespace tolvane::clients
