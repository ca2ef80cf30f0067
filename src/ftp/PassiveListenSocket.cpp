#include "ftp/PassiveListenSocket.h"

#include <unistd.h>

namespace tolvane::ftp {

PassiveListenSocket::PassiveListenSocket(net::Endpoint client) : client_(std::move(client)) {}

PassiveListenSocket::Opened PassiveListenSocket::Open(int family, PassivePortRange* range) {
    if (range == nullptr) return CreateAt(net::Endpoint::AnyOf(family)) ? Opened::Yes : Opened::Failed;
    for (std::size_t tried = 0; tried < range->Size(); ++tried) {
        auto lease = range->Take();
        if (!lease) return Opened::RangeFull;
        if (CreateAt(net::Endpoint::AnyOf(family, lease->Port()))) {
            std::lock_guard lock(mutex_);
            port_ = std::move(lease);
            return Opened::Yes;
        }
    }
    return Opened::RangeFull;
}

void PassiveListenSocket::SetTarget(std::shared_ptr<DataSocket> target) {
    {
        std::lock_guard lock(mutex_);
        target_ = std::move(target);
    }
    targetSet_.notify_all();
}

bool PassiveListenSocket::HasTarget() {
    std::lock_guard lock(mutex_);
    return target_ != nullptr;
}

// A transfer whose client never connects ends with 425 after its limit; one that its session
// dropped (the session ended) lets the listener go.
void PassiveListenSocket::OnIdleTick() {
    std::unique_lock lock(mutex_);
    const std::shared_ptr<DataSocket> target = target_;
    lock.unlock();
    if (!target) return;
    if (target->Cancelled()) return Close();
    const int limit = target->StallLimit();
    if (limit <= 0 || ++ticksWithTarget_ < limit) return;
    target->TimeOut();
    Close();
}

// The port goes back at once, so the session's next PASV may take it again.
void PassiveListenSocket::Close() {
    std::unique_ptr<PassivePortRange::Lease> port;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        port = std::move(port_);
    }
    targetSet_.notify_all();
    EventSocket::Close();
}

void PassiveListenSocket::OnAccept() {
    net::Endpoint peer;
    const int accepted = AcceptPending(peer);
    if (accepted < 0) return;
    if (!peer.SameAddress(client_)) {
        // Anyone else could take over the session's transfer.
        ::close(accepted);
        return;
    }
    const std::shared_ptr<DataSocket> target = WaitForTarget();
    // Served before the transfer starts: a short transfer can answer 226 before this thread goes
    // on, and the session's next command must not find this listener still open.
    Close();
    if (target && target->StartTransfer()) {
        Adopt(target, accepted);
        // An ABOR between the start and the hand-over found no connection to close.
        if (target->Cancelled()) target->Close();
    } else {
        ::close(accepted);
    }
}

// The client may connect before it sends the transfer command.
std::shared_ptr<DataSocket> PassiveListenSocket::WaitForTarget() {
    std::unique_lock lock(mutex_);
    targetSet_.wait(lock, [this] { return target_ || closing_; });
    return closing_ ? nullptr : target_;
}

// A target that never got its connection is let go here; it gives back what it holds.
void PassiveListenSocket::OnWorkerExit() {
    std::lock_guard lock(mutex_);
    target_.reset();
    port_.reset();
}

}  // namespace tolvane::ftp
