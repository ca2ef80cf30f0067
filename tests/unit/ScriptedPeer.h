#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tolvane::testing {

// One accepted connection of a ScriptedPeer, as its script sees it.
class PeerLink {
public:
    PeerLink(int fd, const std::atomic<bool>& stop, std::string& transcript, std::mutex& mutex)
        : fd_(fd), stop_(stop), transcript_(transcript), mutex_(mutex) {}

    bool Send(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            if (!Ready(POLLOUT)) return false;
            const ssize_t result = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (result <= 0) return false;
            sent += static_cast<std::size_t>(result);
        }
        return true;
    }

    // Everything up to and including `terminator`; nullopt on close, stop or time-out.
    std::optional<std::string> ReadUntil(const std::string& terminator) {
        for (;;) {
            const std::size_t end = buffered_.find(terminator);
            if (end != std::string::npos) {
                std::string taken = buffered_.substr(0, end + terminator.size());
                buffered_.erase(0, taken.size());
                return taken;
            }
            if (!Ready(POLLIN)) return std::nullopt;
            char chunk[4096];
            const ssize_t received = ::recv(fd_, chunk, sizeof chunk, 0);
            if (received <= 0) return std::nullopt;
            buffered_.append(chunk, static_cast<std::size_t>(received));
            const std::lock_guard lock(mutex_);
            transcript_.append(chunk, static_cast<std::size_t>(received));
        }
    }
    std::optional<std::string> ReadLine() { return ReadUntil("\r\n"); }

    // Waits until the other end closes (or the peer stops).
    void WaitClosed() {
        while (ReadUntil(std::string(1, '\0'))) {
        }
    }

private:
    bool Ready(short events) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!stop_.load() && std::chrono::steady_clock::now() < deadline) {
            pollfd watched{fd_, events, 0};
            if (::poll(&watched, 1, 50) > 0) return true;
        }
        return false;
    }

    int fd_;
    const std::atomic<bool>& stop_;
    std::string& transcript_;
    std::mutex& mutex_;
    std::string buffered_;
};

// A server on loopback that plays one script per accepted connection, in order, on a thread
// of its own, and records everything it receives.
class ScriptedPeer {
public:
    using Script = std::function<void(PeerLink&)>;

    explicit ScriptedPeer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedPeer() {
        stop_.store(true);
        thread_.join();
        ::close(listener_);
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Transcript() const {
        const std::lock_guard lock(mutex_);
        return transcript_;
    }
    // Waits until every script has run to its end.
    bool WaitDone(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done_.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return done_.load();
    }

private:
    void Run() {
        for (Script& script : scripts_) {
            int fd = -1;
            while (fd < 0 && !stop_.load()) {
                pollfd watched{listener_, POLLIN, 0};
                if (::poll(&watched, 1, 50) > 0) fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            }
            if (fd < 0) return;
            PeerLink link(fd, stop_, transcript_, mutex_);
            script(link);
            ::close(fd);
        }
        done_.store(true);
    }

    std::vector<Script> scripts_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    mutable std::mutex mutex_;
    std::string transcript_;
    std::thread thread_;
};

}  // namespace tolvane::testing
