#include "ftp/DiskReservation.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane::ftp {
namespace {

bool AtEnd(int fd, std::int64_t offset) {
    struct stat facts {};
    return ::fstat(fd, &facts) == 0 && S_ISREG(facts.st_mode) && offset >= facts.st_size;
}

}  // namespace

DiskReservation::DiskReservation(int fd, std::int64_t offset)
    : fd_(fd), active_(AtEnd(fd, offset)), start_(offset), written_(offset), reservedEnd_(offset) {}

DiskReservation::~DiskReservation() { Release(); }

void DiskReservation::Extend(std::size_t length) {
    written_ += static_cast<std::int64_t>(length);
    if (!active_ || written_ <= reservedEnd_ || written_ - start_ < kFirstReserveAfter) return;
    // Each step as large as the upload so far: few calls for a long upload, little waste for
    // a short one.
    const std::int64_t step = std::clamp(written_ - start_, kMinStep, kMaxStep);
    const std::int64_t from = std::max(reservedEnd_, written_ - static_cast<std::int64_t>(length));
    // A file system without reservations, or a full disk: the writes go on as they would.
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, from, written_ - from + step) != 0) {
        active_ = false;
        return;
    }
    reservedEnd_ = written_ + step;
    reserved_ = true;
}

// Truncating to the present size drops the reserved blocks past it. A file some other writer
// has carried past our reservation is left as it is.
void DiskReservation::Release() {
    active_ = false;
    if (!reserved_) return;
    reserved_ = false;
    struct stat facts {};
    if (::fstat(fd_, &facts) == 0 && facts.st_size <= reservedEnd_) (void)::ftruncate(fd_, facts.st_size);
}

}  // namespace tolvane::ftp
