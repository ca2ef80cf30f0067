#include "ftp/UploadBuffer.h"

#include <sys/mman.h>

#include <algorithm>

namespace tolvane::ftp {

// Never zero-filled: a page costs memory only once a receive has written to it.
UploadBuffer::UploadBuffer(std::size_t initialSize)
    : first_(std::make_unique_for_overwrite<char[]>(initialSize)), size_(initialSize) {}

UploadBuffer::~UploadBuffer() { grownBytes_.fetch_sub(charged_); }

void UploadBuffer::Unmap::operator()(char* block) const { ::munmap(block, size); }

void UploadBuffer::Grow() {
    const std::size_t next = std::min(size_ * 2, kMaxSize);
    if (next <= size_ || !Charge(next - size_)) return;
    void* block = ::mmap(nullptr, next, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        Refund(next - size_);
        return;
    }
    grown_ = std::unique_ptr<char, Unmap>(static_cast<char*>(block), Unmap{next});
    first_.reset();
    size_ = next;
}

bool UploadBuffer::Charge(std::size_t bytes) {
    std::size_t held = grownBytes_.load();
    do {
        if (held + bytes > kGrowthBudget) return false;
    } while (!grownBytes_.compare_exchange_weak(held, held + bytes));
    charged_ += bytes;
    return true;
}

void UploadBuffer::Refund(std::size_t bytes) {
    grownBytes_.fetch_sub(bytes);
    charged_ -= bytes;
}

}  // namespace tolvane::ftp
