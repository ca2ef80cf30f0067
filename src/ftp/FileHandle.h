#pragma once

#include <unistd.h>
#include <utility>

namespace tolvane::ftp {

// One open descriptor, closed with the object; moves, never copies.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { Reset(); }

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Hands the descriptor over; the object no longer closes it.
    int Release() { return std::exchange(fd_, -1); }

private:
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    int fd_ = -1;
};

// What a command opened: nothing when the entry is not there (or cannot be opened), denied when
// the rules refuse where it really lies.
struct OpenedEntry {
    FileHandle handle;
    bool denied = false;
};

}  // namespace tolvane::ftp
