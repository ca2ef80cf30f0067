#pragma once

#include "net/TlsContext.h"
#include "net/Transport.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

using SSL = struct ssl_st;

namespace tolvane::net {

// TLS over one accepted connection, this end the server. The handshake runs inside the first
// sends and receives. Replies reach a control connection from other threads than its worker,
// so every use of the TLS state is under one mutex; the socket is non-blocking, so none waits.
class TlsTransport final : public Transport {
public:
    // The descriptor is read through its owner at the first use: a passive data connection
    // is secured before it is accepted.
    // A data connection gets no session tickets: a client that never reads them closes with
    // them unread, and its kernel then resets the connection, dropping the end of an upload.
    TlsTransport(std::shared_ptr<const TlsContext> context, const std::atomic<int>& descriptor, bool dataConnection);
    ~TlsTransport() override;
    TlsTransport(const TlsTransport&) = delete;
    TlsTransport& operator=(const TlsTransport&) = delete;

    IoResult Send(const void* data, std::size_t length, bool more) override;
    IoResult Receive(void* buffer, std::size_t length) override;
    // With kernel TLS the kernel encrypts the file on its way out, as sendfile does for plain
    // TCP; otherwise it goes through a buffer read here, one full record at a time.
    IoResult SendFile(int fileFd, off_t* offset, std::size_t count) override;
    // The kernel took over the encryption of what this end sends (a data connection, where the
    // kernel offers TLS).
    bool KernelSendsFile() const;
    bool HasBufferedInput() const override;
    IoResult Handshake() override;
    bool ResumedSession() const override;
    void Finish() override;

private:
    struct Free {
        void operator()(SSL* ssl) const;
    };
    IoResult Outcome(int result, std::size_t moved);
    // Under the mutex: the TLS state, bound to the socket; null when it cannot be made.
    SSL* Bound();
    IoResult SendFileInKernel(int fileFd, off_t* offset, std::size_t count);
    IoResult SendFileThroughBuffer(int fileFd, off_t* offset, std::size_t count);

    const std::shared_ptr<const TlsContext> context_;
    const std::atomic<int>& descriptor_;
    mutable std::mutex mutex_;
    std::unique_ptr<SSL, Free> ssl_;
    bool bound_ = false;
    // A file block read but refused by a write that would block: the same bytes go again.
    std::array<char, 16 * 1024> fileBlock_{};
    std::size_t fileBlockLength_ = 0;
};

}  // namespace tolvane::net
