#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvane::ftp {

// Disk blocks reserved ahead of an upload that extends its file. The file system prepares blocks
// for every write that grows a file; reserved in steps that grow with the upload, the same blocks
// cost it far less work. The file's size never changes for it, so a reader or a cut upload sees
// only the bytes written. Blocks reserved past the last byte go back when it ends.
class DiskReservation {
public:
    // fd is the upload's file, written from offset on; nothing is reserved unless that is the
    // file's end (a restart inside a file writes over blocks it has).
    DiskReservation(int fd, std::int64_t offset);
    ~DiskReservation();
    DiskReservation(const DiskReservation&) = delete;
    DiskReservation& operator=(const DiskReservation&) = delete;

    // Before length more bytes are written at the end of what was written so far.
    void Extend(std::size_t length);
    // Gives back the blocks past the file's end. Also done by the destructor.
    void Release();

private:
    // Small uploads never reserve: for them the reservation would be work of its own.
    static constexpr std::int64_t kFirstReserveAfter = 256 * 1024;
    static constexpr std::int64_t kMinStep = 8 * 1024 * 1024;
    static constexpr std::int64_t kMaxStep = 64 * 1024 * 1024;

    int fd_;
    bool active_;
    bool reserved_ = false;
    const std::int64_t start_;
    std::int64_t written_;
    std::int64_t reservedEnd_;
};

}  // namespace tolvane::ftp
