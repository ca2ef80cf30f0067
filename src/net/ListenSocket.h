#pragma once

#include "net/EventSocket.h"

#include <atomic>
#include <functional>
#include <memory>

namespace tolvane::net {

// The listening endpoint of one IP home. It numbers its connections from 1 and lets the
// factory build each one (the factory hands over everything the connection needs), then
// accepts the client into it.
class ListenSocket : public EventSocket {
public:
    using ConnectionFactory = std::function<std::shared_ptr<EventSocket>(int connectionNumber)>;

    explicit ListenSocket(ConnectionFactory factory);

    int ConnectionCounter() const { return connectionCounter_.load(); }

protected:
    void OnAccept() override;

private:
    ConnectionFactory factory_;
    std::atomic<int> connectionCounter_{0};
};

}  // namespace tolvane::net
