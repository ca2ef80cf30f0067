#pragma once

#include "net/Transport.h"

#include <atomic>

namespace tolvane::net {

// Plain TCP: the bytes go to the socket as they are. It reads the socket's descriptor through
// its owner, so a closed socket is never written under a number that was reused.
class PlainTransport final : public Transport {
public:
    explicit PlainTransport(const std::atomic<int>& descriptor) : descriptor_(descriptor) {}

    IoResult Send(const void* data, std::size_t length, bool more) override;
    IoResult Receive(void* buffer, std::size_t length) override;
    IoResult SendFile(int fileFd, off_t* offset, std::size_t count) override;

private:
    const std::atomic<int>& descriptor_;
};

}  // namespace tolvane::net
