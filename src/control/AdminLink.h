#pragma once

#include "control/UnixSocket.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

using SSL = struct ssl_st;
using SSL_CTX = struct ssl_ctx_st;

namespace tolvane::control {

// One connection of an attached window: the control socket of a home, or TCP with TLS to a
// server's admin port. Blocking, every read and write under a time limit; reads are buffered.
class AdminLink {
public:
    AdminLink() = default;
    ~AdminLink();
    AdminLink(const AdminLink&) = delete;
    AdminLink& operator=(const AdminLink&) = delete;

    static std::unique_ptr<AdminLink> Adopt(UnixSocket socket);
    // Takes over an accepted connection's descriptor.
    static std::unique_ptr<AdminLink> Wrap(int fd);
    static std::unique_ptr<AdminLink> ConnectLocal(const std::filesystem::path& socketPath, std::string& error);
    // Connects with TLS without judging the certificate: the caller compares `fingerprint`
    // (SHA-256 of the certificate, "AB:CD:...") with the one it trusts.
    static std::unique_ptr<AdminLink> ConnectTls(const std::string& host, const std::string& port,
                                                 std::string& fingerprint, std::string& error);

    // The server end of TLS on an accepted connection; false when the handshake fails.
    bool AcceptTls(SSL_CTX* context, std::chrono::milliseconds timeout);

    void SetTimeout(std::chrono::milliseconds timeout);
    bool SendAll(std::string_view bytes);
    // Up to and including the line feed; nothing when the line grows beyond `limit`, the peer
    // ends or the time runs out.
    std::optional<std::string> ReceiveLine(std::size_t limit);
    std::optional<std::string> ReceiveBytes(std::size_t count);
    // Whether the peer sent anything (or ended) within `wait`.
    bool Readable(std::chrono::milliseconds wait);
    // Wakes a read or write blocked in another thread; the link is dead afterwards.
    void Interrupt();

private:
    struct SslFree {
        void operator()(SSL* ssl) const;
    };

    AdminLink(int fd, std::unique_ptr<SSL, SslFree> ssl);
    bool Fill();

    int fd_ = -1;
    std::unique_ptr<SSL, SslFree> ssl_;
    std::string buffer_;
    std::atomic<bool> interrupted_{false};
};

// "AB:CD:..." of the SHA-256 of a PEM certificate file; empty when it cannot be read.
std::string CertificateFingerprint(const std::filesystem::path& pemFile);

}  // namespace tolvane::control
