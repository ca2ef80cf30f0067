#pragma once

#include "net/EventSocket.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace tolvane::net {

// The listening endpoint of one IP home. It numbers its connections from 1 and lets the
// factory build each one (the factory hands over everything the connection needs), then
// accepts the client into it.
//
// Out of descriptors, a client left in the backlog would wait without a word: a spare descriptor
// makes room to accept it just long enough to send it the refusal and close it; `refused` is then
// told the connection's number.
class ListenSocket : public EventSocket {
public:
    using ConnectionFactory = std::function<std::shared_ptr<EventSocket>(int connectionNumber)>;
    using RefusalNotice = std::function<void(int connectionNumber)>;

    explicit ListenSocket(ConnectionFactory factory, std::string refusal = {}, RefusalNotice refused = {});
    ~ListenSocket() override;

    int ConnectionCounter() const { return connectionCounter_.load(); }

protected:
    void OnAccept() override;

private:
    bool RefuseWithSpareDescriptor(int connectionNumber);

    ConnectionFactory factory_;
    std::string refusal_;
    RefusalNotice refused_;
    std::atomic<int> connectionCounter_{0};
    int spare_ = -1;  // used on the worker only
};

}  // namespace tolvane::net
