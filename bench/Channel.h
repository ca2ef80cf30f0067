#pragma once

#include <cstddef>
#include <memory>
#include <openssl/ssl.h>
#include <string>
#include <sys/types.h>
#include <utility>

namespace bench {

using TlsSessionPtr = std::unique_ptr<SSL_SESSION, decltype(&SSL_SESSION_free)>;

// One connected socket, in clear or, after StartTls, under TLS as its client. Owns the socket.
class Channel {
public:
    Channel() = default;
    explicit Channel(int fd) : fd_(fd) {}
    ~Channel() { Close(); }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;
    Channel(Channel&& other) noexcept : fd_(std::exchange(other.fd_, -1)), tls_(std::move(other.tls_)) {}
    Channel& operator=(Channel&& other) noexcept;

    bool Open() const { return fd_ >= 0; }
    // The TLS handshake as client; a session given is offered for resumption.
    bool StartTls(SSL_CTX* context, SSL_SESSION* resume);
    bool SendAll(const char* data, std::size_t length);
    // Bytes received, 0 at the end of the stream (close_notify or the peer's close), -1 on error.
    ssize_t Receive(char* buffer, std::size_t size);
    // Under TLS, ends the stream in order: close_notify, our half closed, then whatever the peer
    // still sends read to its end, so that neither side sees a reset. In clear, nothing.
    void Finish();
    void Close();

    bool Secure() const { return tls_ != nullptr; }
    bool Resumed() const { return tls_ && SSL_session_reused(tls_.get()) == 1; }
    // The session to offer on the next connection: the latest ticket this one received.
    TlsSessionPtr Session() const;
    std::string Describe() const;

private:
    int fd_ = -1;
    std::unique_ptr<SSL, decltype(&SSL_free)> tls_{nullptr, &SSL_free};
};

}  // namespace bench
