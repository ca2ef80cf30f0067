#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tolvane::testing {

// A blocking TCP client for driving servers on loopback in tests.
class TestClient {
public:
    explicit TestClient(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~TestClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool Connected() const { return connected_; }
    int Fd() const { return fd_; }

    bool Send(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t result = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (result <= 0) return false;
            sent += static_cast<std::size_t>(result);
        }
        return true;
    }

    // Reads until `count` bytes arrived, the peer closed, or the time-out passed.
    std::string ReadBytes(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        while (buffered_.size() < count && Fill(timeout)) {
        }
        const std::string taken = buffered_.substr(0, count);
        buffered_.erase(0, taken.size());
        return taken;
    }

    // One line including its CR LF; nullopt on close or time-out.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        for (;;) {
            const std::size_t end = buffered_.find("\r\n");
            if (end != std::string::npos) {
                std::string line = buffered_.substr(0, end + 2);
                buffered_.erase(0, end + 2);
                return line;
            }
            if (!Fill(timeout)) return std::nullopt;
        }
    }

    // Reads lines until one that starts with a code and a blank; returns all of them joined.
    std::string ReadReply(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::string reply;
        while (auto line = ReadLine(timeout)) {
            reply += *line;
            if (line->size() >= 4 && (*line)[3] == ' ') break;
        }
        return reply;
    }

    // True when the server closed the connection within the time-out.
    bool WaitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        while (Fill(timeout)) {
        }
        return closed_;
    }

    void ResetHard() {
        linger abort{1, 0};
        setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(fd_);
        fd_ = -1;
    }

private:
    bool Fill(std::chrono::milliseconds timeout) {
        if (closed_ || fd_ < 0) return false;
        pollfd watched{fd_, POLLIN, 0};
        if (::poll(&watched, 1, static_cast<int>(timeout.count())) <= 0) return false;
        char chunk[4096];
        const ssize_t received = ::recv(fd_, chunk, sizeof chunk, 0);
        if (received <= 0) {
            closed_ = true;
            return false;
        }
        buffered_.append(chunk, static_cast<std::size_t>(received));
        return true;
    }

    int fd_;
    bool connected_ = false;
    bool closed_ = false;
    std::string buffered_;
};

// Many sockets at once need more descriptors than the default soft limit.
inline void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

template <typename Predicate>
bool Eventually(Predicate predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (predicate()) return true;
        ::usleep(10000);
    }
    return predicate();
}

}  // namespace tolvane::testing
