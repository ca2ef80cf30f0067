#include "ftp/SpeedLimit.h"

#include <gtest/gtest.h>

#include <limits>

namespace tolvane::ftp {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr std::uint32_t kLargest = std::numeric_limits<std::uint32_t>::max();

TEST(SpeedLimitTest, ModeChoosesTheValueAndTheValueCountsInKibibytes) {
    EXPECT_EQ(ApplySpeedLimit("Static", 10, 99), (SpeedLimit{true, 10240}));
    EXPECT_EQ(ApplySpeedLimit("Static", 0.5, 99), (SpeedLimit{true, 512}));
    EXPECT_EQ(ApplySpeedLimit("Static", 0.0009, 99), SpeedLimit{});  // 0.92 bytes: fraction dropped
    EXPECT_EQ(ApplySpeedLimit("Static", 0, 99), SpeedLimit{});       // also an empty field
    EXPECT_EQ(ApplySpeedLimit("Dynamic", 99, 20), (SpeedLimit{true, 20480}));
    EXPECT_EQ(ApplySpeedLimit("Dynamic", 99, 0), SpeedLimit{});      // no rule in force
    EXPECT_EQ(ApplySpeedLimit("-1", 10, 10), SpeedLimit{});
    EXPECT_EQ(ApplySpeedLimit("static", 10, 10), std::nullopt);
    EXPECT_EQ(ApplySpeedLimit("", 10, 10), std::nullopt);
    EXPECT_EQ(ApplySpeedLimit("Static ", 10, 10), std::nullopt);
}

TEST(SpeedLimitTest, OutOfRangeSpeedsNeitherWrapNorOverflow) {
    EXPECT_EQ(ApplySpeedLimit("Static", -5, 0), SpeedLimit{});
    EXPECT_EQ(ApplySpeedLimit("Static", kNaN, 0), SpeedLimit{});
    EXPECT_EQ(ApplySpeedLimit("Static", -kInfinity, 0), SpeedLimit{});
    EXPECT_EQ(ApplySpeedLimit("Static", kInfinity, 0), (SpeedLimit{true, kLargest}));
    EXPECT_EQ(ApplySpeedLimit("Static", 1e308, 0), (SpeedLimit{true, kLargest}));
    EXPECT_EQ(ApplySpeedLimit("Static", 4194304, 0), (SpeedLimit{true, kLargest}));  // 2^32 bytes
    EXPECT_EQ(ApplySpeedLimit("Static", 4194303, 0), (SpeedLimit{true, kLargest - 1023}));
}

}  // namespace
}  // namespace tolvane::ftp
