#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tolvane::control {

// One owned local stream socket of the control channel, blocking, with a time limit on every
// read and write so that a silent peer cannot hold the other side.
class UnixSocket {
public:
    UnixSocket() = default;
    ~UnixSocket();
    UnixSocket(UnixSocket&& other) noexcept;
    UnixSocket& operator=(UnixSocket&& other) noexcept;
    UnixSocket(const UnixSocket&) = delete;
    UnixSocket& operator=(const UnixSocket&) = delete;

    // False with errno set when nothing listens at `path` (or it is too long for a socket name).
    bool Connect(const std::filesystem::path& path);
    // Binds `path` with mode 0600 and listens; false with errno set.
    bool Listen(const std::filesystem::path& path);
    UnixSocket Accept() const;

    void SetTimeout(std::chrono::milliseconds timeout);
    bool SendAll(std::string_view bytes);
    // Bytes up to and including the first line feed; nothing when the peer sends more than
    // `limit` bytes without one, stops, or times out.
    std::optional<std::string> ReceiveLine(std::size_t limit);
    // Everything until the peer closes, cut off after `limit` bytes.
    std::string ReceiveAll(std::size_t limit);
    // Says the last word and reads what the peer still sends, up to `limit` bytes: closing on
    // unread bytes would reset the connection and could lose the answer.
    void EndSending(std::size_t limit);
    // The user ID of the process at the other end.
    std::optional<uid_t> PeerUid() const;

    int Descriptor() const { return fd_; }
    // Hands the descriptor over to the caller, who closes it.
    int Release() { return std::exchange(fd_, -1); }
    bool IsOpen() const { return fd_ >= 0; }

private:
    explicit UnixSocket(int fd) : fd_(fd) {}

    int fd_ = -1;
};

}  // namespace tolvane::control
