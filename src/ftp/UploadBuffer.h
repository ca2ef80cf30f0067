#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace tolvane::ftp {

// The receive buffer of one upload. It starts small, which suits a crowd of uploads (each block
// stays in the cache), and doubles for an upload that keeps filling it, while all grown buffers
// together stay within a process-wide budget: a few fast uploads move in large blocks with few
// system calls, and a thousand at once never hold more than the budget beyond their first block.
class UploadBuffer {
public:
    static constexpr std::size_t kMaxSize = 1024 * 1024;
    static constexpr std::size_t kGrowthBudget = 32 * 1024 * 1024;

    explicit UploadBuffer(std::size_t initialSize);
    ~UploadBuffer();
    UploadBuffer(const UploadBuffer&) = delete;
    UploadBuffer& operator=(const UploadBuffer&) = delete;

    char* Data() { return grown_ ? grown_.get() : first_.get(); }
    std::size_t Size() const { return size_; }
    // After a receive that filled the buffer: the sender is ahead of us.
    void Grow();

    // Bytes that grown buffers hold beyond their first size, over the whole process.
    static std::size_t GrownBytes() { return grownBytes_.load(); }

private:
    // A grown block is mapped on its own and unmapped when done. From the heap, its release would
    // teach malloc to serve blocks of that size from the heap, which then keeps them.
    struct Unmap {
        std::size_t size;
        void operator()(char* block) const;
    };

    bool Charge(std::size_t bytes);
    void Refund(std::size_t bytes);

    std::unique_ptr<char[]> first_;
    std::unique_ptr<char, Unmap> grown_{nullptr, Unmap{0}};
    std::size_t size_;
    std::size_t charged_ = 0;
    static inline std::atomic<std::size_t> grownBytes_{0};
};

}  // namespace tolvane::ftp
