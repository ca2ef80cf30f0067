#include "net/SocketSet.h"

#include <vector>

namespace tolvane::net {

void SocketSet::Add(const std::shared_ptr<EventSocket>& socket) {
    std::lock_guard lock(mutex_);
    sockets_[socket.get()] = socket;
}

void SocketSet::Remove(const EventSocket* socket) {
    std::lock_guard lock(mutex_);
    sockets_.erase(socket);
}

void SocketSet::CloseAll() {
    std::vector<std::shared_ptr<EventSocket>> live;
    {
        std::lock_guard lock(mutex_);
        for (auto it = sockets_.begin(); it != sockets_.end();) {
            if (auto socket = it->second.lock()) {
                live.push_back(std::move(socket));
                ++it;
            } else {
                it = sockets_.erase(it);
            }
        }
    }
    for (const auto& socket : live) socket->Close();
}

std::size_t SocketSet::Size() const {
    std::lock_guard lock(mutex_);
    return sockets_.size();
}

}  // namespace tolvane::net
