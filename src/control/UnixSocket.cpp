#include "control/UnixSocket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tolvane::control {
namespace {

std::optional<sockaddr_un> SocketAddress(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return std::nullopt;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return address;
}

int NewSocket() { return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }

}  // namespace

UnixSocket::~UnixSocket() {
    if (fd_ >= 0) ::close(fd_);
}

UnixSocket::UnixSocket(UnixSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UnixSocket& UnixSocket::operator=(UnixSocket&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool UnixSocket::Connect(const std::filesystem::path& path) {
    const auto address = SocketAddress(path);
    if (!address) return false;
    *this = UnixSocket(NewSocket());
    if (fd_ < 0) return false;
    return ::connect(fd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
}

bool UnixSocket::Listen(const std::filesystem::path& path) {
    const auto address = SocketAddress(path);
    if (!address) return false;
    *this = UnixSocket(NewSocket());
    if (fd_ < 0) return false;
    // The socket is made with the mode it keeps: nobody else may reach it, not even briefly.
    const mode_t previous = ::umask(0177);
    const bool bound = ::bind(fd_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0;
    ::umask(previous);
    return bound && ::listen(fd_, 16) == 0;
}

UnixSocket UnixSocket::Accept() const {
    for (;;) {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0 || errno != EINTR) return UnixSocket(client);
    }
}

void UnixSocket::SetTimeout(std::chrono::milliseconds timeout) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

bool UnixSocket::SendAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::optional<std::string> UnixSocket::ReceiveLine(std::size_t limit) {
    std::string line;
    char c = 0;
    // One byte at a time: a request is short, and nothing after its line feed is taken.
    while (line.size() < limit) {
        const ssize_t received = ::recv(fd_, &c, 1, 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) return std::nullopt;
        line += c;
        if (c == '\n') return line;
    }
    return std::nullopt;
}

std::string UnixSocket::ReceiveAll(std::size_t limit) {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < limit) {
        const ssize_t received = ::recv(fd_, buffer, std::min(sizeof buffer, limit - bytes.size()), 0);
        if (received < 0 && errno == EINTR) continue;
        if (received <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(received));
    }
    return bytes;
}

void UnixSocket::EndSending(std::size_t limit) {
    ::shutdown(fd_, SHUT_WR);
    ReceiveAll(limit);
}

std::optional<uid_t> UnixSocket::PeerUid() const {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) return std::nullopt;
    return credentials.uid;
}

}  // namespace tolvane::control
