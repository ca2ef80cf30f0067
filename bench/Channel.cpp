#include "Channel.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

Channel& Channel::operator=(Channel&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        tls_ = std::move(other.tls_);
    }
    return *this;
}

bool Channel::StartTls(SSL_CTX* context, SSL_SESSION* resume) {
    tls_.reset(SSL_new(context));
    if (!tls_ || SSL_set_fd(tls_.get(), fd_) != 1) return false;
    if (resume) SSL_set_session(tls_.get(), resume);
    return SSL_connect(tls_.get()) == 1;
}

bool Channel::SendAll(const char* data, std::size_t length) {
    if (tls_) {
        std::size_t written = 0;
        return length == 0 || (SSL_write_ex(tls_.get(), data, length, &written) == 1 && written == length);
    }
    while (length > 0) {
        const ssize_t sent = ::send(fd_, data, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

ssize_t Channel::Receive(char* buffer, std::size_t size) {
    if (tls_) {
        std::size_t got = 0;
        if (SSL_read_ex(tls_.get(), buffer, size, &got) == 1) return static_cast<ssize_t>(got);
        return SSL_get_error(tls_.get(), 0) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
    }
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, size, 0);
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

void Channel::Finish() {
    if (fd_ < 0 || !tls_) return;
    SSL_shutdown(tls_.get());
    ::shutdown(fd_, SHUT_WR);
    char rest[4096];
    while (Receive(rest, sizeof rest) > 0) {
    }
}

void Channel::Close() {
    tls_.reset();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

TlsSessionPtr Channel::Session() const {
    TlsSessionPtr session(tls_ ? SSL_get1_session(tls_.get()) : nullptr, &SSL_SESSION_free);
    if (session && SSL_SESSION_is_resumable(session.get()) != 1) session.reset();
    return session;
}

std::string Channel::Describe() const {
    if (!tls_) return "clear";
    return std::string(SSL_get_version(tls_.get())) + " " + SSL_get_cipher_name(tls_.get());
}

}  // namespace bench
