#pragma once

#include "ftp/DataSocket.h"
#include "net/EventSocket.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace tolvane::ftp {

// The one-shot listener of a PASV: it serves exactly one data connection, from the session's
// own client address only, to the data socket that the next transfer command hands it.
class PassiveListenSocket : public net::EventSocket {
public:
    explicit PassiveListenSocket(net::Endpoint client);

    void SetTarget(std::shared_ptr<DataSocket> target);
    // A transfer command has handed its data socket over.
    bool HasTarget();
    void Close() override;

protected:
    void OnAccept() override;
    void OnIdleTick() override;
    void OnWorkerExit() override;

private:
    std::shared_ptr<DataSocket> WaitForTarget();

    const net::Endpoint client_;
    std::mutex mutex_;
    std::condition_variable targetSet_;
    std::shared_ptr<DataSocket> target_;
    bool closing_ = false;
    int ticksWithTarget_ = 0;  // the worker's own
};

}  // namespace tolvane::ftp
