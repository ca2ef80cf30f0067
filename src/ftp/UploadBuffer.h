#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace tolvane::ftp {

// The receive buffer of one upload. It starts small, which suits a crowd of uploads (each block
// stays in the cache), and doubles for an upload that keeps filling it while only a few uploads
// run: a lone fast upload moves in large blocks with few system calls. In a crowd, blocks freshly
// mapped for each upload cost page faults and shared address-space locks that outweigh the
// system calls they save, so no block grows there, and at most kMaxGrowingUploads hold one at once.
class UploadBuffer {
public:
    static constexpr std::size_t kMaxSize = 1024 * 1024;
    static constexpr int kMaxGrowingUploads = 4;

    explicit UploadBuffer(std::size_t initialSize);
    ~UploadBuffer();
    UploadBuffer(const UploadBuffer&) = delete;
    UploadBuffer& operator=(const UploadBuffer&) = delete;

    char* Data() { return grown_ ? grown_.get() : first_.get(); }
    std::size_t Size() const { return size_; }
    // After a receive that filled the buffer: the sender is ahead of us.
    void Grow();

private:
    // A grown block is mapped on its own and unmapped when done. From the heap, its release would
    // teach malloc to serve blocks of that size from the heap, which then keeps them.
    struct Unmap {
        std::size_t size;
        void operator()(char* block) const;
    };

    std::unique_ptr<char[]> first_;
    std::unique_ptr<char, Unmap> grown_{nullptr, Unmap{0}};
    std::size_t size_;
    static inline std::atomic<int> running_{0};
};

}  // namespace tolvane::ftp
