#include "ftp/UploadBuffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using tolvane::ftp::UploadBuffer;

namespace {

TEST(UploadBufferTest, ALoneUploadGrowsByDoublingUpToItsLimitAndKeepsItsBytesUsable) {
    UploadBuffer buffer(64 * 1024);
    std::vector<std::size_t> sizes{buffer.Size()};
    for (int i = 0; i < 8; ++i) {
        buffer.Grow();
        sizes.push_back(buffer.Size());
        buffer.Data()[buffer.Size() - 1] = 'x';  // the whole block is there to receive into
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{65536, 131072, 262144, 524288, 1048576, 1048576, 1048576, 1048576,
                                               1048576}));
}

// Growth in a crowd would map fresh blocks for every upload; it waits until the crowd has thinned.
TEST(UploadBufferTest, NoBlockGrowsWhileACrowdOfUploadsRuns) {
    std::vector<std::unique_ptr<UploadBuffer>> crowd;
    for (int i = 0; i <= UploadBuffer::kMaxGrowingUploads; ++i) {
        crowd.push_back(std::make_unique<UploadBuffer>(64 * 1024));
    }
    for (auto& upload : crowd) {
        upload->Grow();
        EXPECT_EQ(upload->Size(), 64u * 1024);
    }
    crowd.pop_back();
    crowd.front()->Grow();
    EXPECT_EQ(crowd.front()->Size(), 128u * 1024) << "a thinned crowd grows again";
}

}  // namespace
