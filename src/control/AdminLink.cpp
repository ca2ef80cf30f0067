#include "control/AdminLink.h"

#include <netdb.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tolvane::control {
namespace {

constexpr std::chrono::seconds kConnectTimeout{10};

void SetSocketTimeout(int fd, std::chrono::milliseconds timeout) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

int ConnectTcp(const std::string& host, const std::string& port, std::string& error) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int failure = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); failure != 0) {
        error = host + ": " + ::gai_strerror(failure);
        return -1;
    }
    int fd = -1;
    for (const addrinfo* address = found; address && fd < 0; address = address->ai_next) {
        fd = ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0) continue;
        SetSocketTimeout(fd, kConnectTimeout);
        if (::connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            error = host + " port " + port + ": " + std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    return fd;
}

std::string Fingerprint(X509* certificate) {
    if (certificate == nullptr) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool made = X509_digest(certificate, EVP_sha256(), digest, &length) == 1;
    X509_free(certificate);
    std::string text;
    for (unsigned int i = 0; made && i < length; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
        text += hex;
    }
    return text;
}

SSL_CTX* ClientContext() {
    // One for the process: made once, never freed, shared by every link.
    static SSL_CTX* const context = [] {
        SSL_CTX* made = SSL_CTX_new(TLS_client_method());
        if (made) SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
        return made;
    }();
    return context;
}

}  // namespace

std::string CertificateFingerprint(const std::filesystem::path& pemFile) {
    FILE* file = std::fopen(pemFile.c_str(), "r");
    if (file == nullptr) return {};
    X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    return Fingerprint(certificate);
}

void AdminLink::SslFree::operator()(SSL* ssl) const { SSL_free(ssl); }

AdminLink::AdminLink(int fd, std::unique_ptr<SSL, SslFree> ssl) : fd_(fd), ssl_(std::move(ssl)) {}

AdminLink::~AdminLink() {
    if (ssl_) SSL_shutdown(ssl_.get());
    if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<AdminLink> AdminLink::Adopt(UnixSocket socket) {
    return std::unique_ptr<AdminLink>(new AdminLink(socket.Release(), nullptr));
}

std::unique_ptr<AdminLink> AdminLink::Wrap(int fd) { return std::unique_ptr<AdminLink>(new AdminLink(fd, nullptr)); }

bool AdminLink::AcceptTls(SSL_CTX* context, std::chrono::milliseconds timeout) {
    SetSocketTimeout(fd_, timeout);
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(context));
    if (!ssl || SSL_set_fd(ssl.get(), fd_) != 1 || SSL_accept(ssl.get()) != 1) {
        ERR_clear_error();
        return false;
    }
    ssl_ = std::move(ssl);
    return true;
}

std::unique_ptr<AdminLink> AdminLink::ConnectLocal(const std::filesystem::path& socketPath, std::string& error) {
    UnixSocket socket;
    if (!socket.Connect(socketPath)) {
        error = socketPath.string() + ": " + std::strerror(errno);
        return nullptr;
    }
    return Adopt(std::move(socket));
}

std::unique_ptr<AdminLink> AdminLink::ConnectTls(const std::string& host, const std::string& port,
                                                 std::string& fingerprint, std::string& error) {
    const int fd = ConnectTcp(host, port, error);
    if (fd < 0) return nullptr;
    std::unique_ptr<SSL, SslFree> ssl(ClientContext() ? SSL_new(ClientContext()) : nullptr);
    if (ssl) SSL_set_tlsext_host_name(ssl.get(), host.c_str());
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1 || SSL_connect(ssl.get()) != 1) {
        ERR_clear_error();
        error = host + " port " + port + ": no TLS handshake (is it the admin port?)";
        ::close(fd);
        return nullptr;
    }
    fingerprint = Fingerprint(SSL_get1_peer_certificate(ssl.get()));
    return std::unique_ptr<AdminLink>(new AdminLink(fd, std::move(ssl)));
}

void AdminLink::SetTimeout(std::chrono::milliseconds timeout) { SetSocketTimeout(fd_, timeout); }

bool AdminLink::SendAll(std::string_view bytes) {
    while (!bytes.empty() && !interrupted_) {
        std::size_t sent = 0;
        if (ssl_) {
            if (SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &sent) != 1) {
                ERR_clear_error();
                return false;
            }
        } else {
            const ssize_t result = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (result < 0 && errno == EINTR) continue;
            if (result <= 0) return false;
            sent = static_cast<std::size_t>(result);
        }
        bytes.remove_prefix(sent);
    }
    return bytes.empty();
}

// Appends what the peer has sent; false when it has ended, failed or timed out.
bool AdminLink::Fill() {
    if (interrupted_) return false;
    char chunk[16384];
    std::size_t received = 0;
    if (ssl_) {
        if (SSL_read_ex(ssl_.get(), chunk, sizeof chunk, &received) != 1) {
            ERR_clear_error();
            return false;
        }
    } else {
        ssize_t result = 0;
        do {
            result = ::recv(fd_, chunk, sizeof chunk, 0);
        } while (result < 0 && errno == EINTR);
        if (result <= 0) return false;
        received = static_cast<std::size_t>(result);
    }
    buffer_.append(chunk, received);
    return true;
}

std::optional<std::string> AdminLink::ReceiveLine(std::size_t limit) {
    for (;;) {
        const std::size_t end = buffer_.find('\n');
        if (end != std::string::npos && end < limit) {
            std::string line = buffer_.substr(0, end + 1);
            buffer_.erase(0, end + 1);
            return line;
        }
        if (buffer_.size() >= limit || !Fill()) return std::nullopt;
    }
}

std::optional<std::string> AdminLink::ReceiveBytes(std::size_t count) {
    while (buffer_.size() < count) {
        if (!Fill()) return std::nullopt;
    }
    std::string bytes = buffer_.substr(0, count);
    buffer_.erase(0, count);
    return bytes;
}

bool AdminLink::Readable(std::chrono::milliseconds wait) {
    if (!buffer_.empty() || (ssl_ && SSL_pending(ssl_.get()) > 0) || interrupted_) return true;
    pollfd event{fd_, POLLIN, 0};
    return ::poll(&event, 1, static_cast<int>(wait.count())) != 0;
}

void AdminLink::Interrupt() {
    interrupted_ = true;
    ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace tolvane::control
