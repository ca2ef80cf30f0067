#include "ftp/UploadBuffer.h"

#include <sys/mman.h>

#include <algorithm>

namespace tolvane::ftp {

// Never zero-filled: a page costs memory only once a receive has written to it.
UploadBuffer::UploadBuffer(std::size_t initialSize)
    : first_(std::make_unique_for_overwrite<char[]>(initialSize)), size_(initialSize) {
    running_.fetch_add(1);
}

UploadBuffer::~UploadBuffer() { running_.fetch_sub(1); }

void UploadBuffer::Unmap::operator()(char* block) const { ::munmap(block, size); }

void UploadBuffer::Grow() {
    const std::size_t next = std::min(size_ * 2, kMaxSize);
    if (next <= size_ || running_.load() > kMaxGrowingUploads) return;
    void* block = ::mmap(nullptr, next, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return;
    grown_ = std::unique_ptr<char, Unmap>(static_cast<char*>(block), Unmap{next});
    first_.reset();
    size_ = next;
}

}  // namespace tolvane::ftp
