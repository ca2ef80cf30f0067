#pragma once

#include "ftp/DataSocket.h"
#include "ftp/PassivePortRange.h"
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

    enum class Opened { Yes, RangeFull, Failed };
    // Binds to every local address of the family, on a port of `range` when there is one (a
    // port another program holds is passed over), and starts the worker.
    Opened Open(int family, PassivePortRange* range);

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
    std::unique_ptr<PassivePortRange::Lease> port_;  // given back when the listener closes
};

}  // namespace tolvane::ftp
