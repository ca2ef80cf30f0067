#include "ftp/PassivePortRange.h"

#include <gtest/gtest.h>

using tolvane::ftp::PassivePortRange;

TEST(PassivePortRangeTest, HandsOutEachPortOnceUntilItsLeaseEnds) {
    auto range = std::make_shared<PassivePortRange>(40000, 40002);
    auto first = range->Take();
    auto second = range->Take();
    auto third = range->Take();
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(first->Port() + second->Port() + third->Port(), 40000 + 40001 + 40002);
    EXPECT_FALSE(range->Take());
    const auto freed = second->Port();
    second.reset();
    auto again = range->Take();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Port(), freed);
}
