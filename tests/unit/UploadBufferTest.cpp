#include "ftp/UploadBuffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using tolvane::ftp::UploadBuffer;

namespace {

TEST(UploadBufferTest, GrowsByDoublingUpToItsLimitAndKeepsItsBytesUsable) {
    const std::size_t before = UploadBuffer::GrownBytes();
    {
        UploadBuffer buffer(64 * 1024);
        std::vector<std::size_t> sizes{buffer.Size()};
        for (int i = 0; i < 8; ++i) {
            buffer.Grow();
            sizes.push_back(buffer.Size());
            buffer.Data()[buffer.Size() - 1] = 'x';  // the whole block is there to receive into
        }
        EXPECT_EQ(sizes, (std::vector<std::size_t>{65536, 131072, 262144, 524288, 1048576, 1048576, 1048576,
                                                   1048576, 1048576}));
        EXPECT_EQ(UploadBuffer::GrownBytes(), before + UploadBuffer::kMaxSize - 64 * 1024);
    }
    EXPECT_EQ(UploadBuffer::GrownBytes(), before);
}

// A crowd of fast uploads: the first grow to the limit, the rest keep their first block, and
// everything grown is given back when they end.
TEST(UploadBufferTest, ACrowdNeverHoldsMoreThanTheBudgetBeyondItsFirstBlocks) {
    const std::size_t before = UploadBuffer::GrownBytes();
    {
        std::vector<std::unique_ptr<UploadBuffer>> crowd;
        for (int i = 0; i < 200; ++i) {
            crowd.push_back(std::make_unique<UploadBuffer>(64 * 1024));
            for (int step = 0; step < 6; ++step) crowd.back()->Grow();
        }
        EXPECT_LE(UploadBuffer::GrownBytes(), UploadBuffer::kGrowthBudget);
        EXPECT_EQ(crowd.front()->Size(), UploadBuffer::kMaxSize);
        EXPECT_EQ(crowd.back()->Size(), 64u * 1024);
        crowd.erase(crowd.begin(), crowd.begin() + 10);
        crowd.back()->Grow();
        EXPECT_GT(crowd.back()->Size(), 64u * 1024) << "room given back is used again";
    }
    EXPECT_EQ(UploadBuffer::GrownBytes(), before);
}

}  // namespace
