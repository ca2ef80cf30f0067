#pragma once

#include "net/EventSocket.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace tolvane::net {

// Live sockets that must all be closed together (the sessions of an IP home at shutdown).
// Sockets add themselves and remove themselves when their worker ends; an entry whose object
// died without a worker simply expires.
class SocketSet {
public:
    void Add(const std::shared_ptr<EventSocket>& socket);
    void Remove(const EventSocket* socket);
    void CloseAll();
    std::size_t Size() const;

private:
    mutable std::mutex mutex_;
    std::unordered_map<const EventSocket*, std::weak_ptr<EventSocket>> sockets_;
};

}  // namespace tolvane::net
