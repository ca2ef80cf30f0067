#include "ftp/UploadBuffer.h"

#include <algorithm>

namespace tolvane::ftp {

// Never zero-filled: a page costs memory only once a receive has written to it.
UploadBuffer::UploadBuffer(std::size_t initialSize)
    : data_(std::make_unique_for_overwrite<char[]>(initialSize)), size_(initialSize) {}

UploadBuffer::~UploadBuffer() { grown_.fetch_sub(charged_); }

void UploadBuffer::Grow() {
    const std::size_t next = std::min(size_ * 2, kMaxSize);
    if (next <= size_ || !Charge(next - size_)) return;
    data_ = std::make_unique_for_overwrite<char[]>(next);
    size_ = next;
}

bool UploadBuffer::Charge(std::size_t bytes) {
    std::size_t held = grown_.load();
    do {
        if (held + bytes > kGrowthBudget) return false;
    } while (!grown_.compare_exchange_weak(held, held + bytes));
    charged_ += bytes;
    return true;
}

}  // namespace tolvane::ftp
