#include "ftp/SpeedLimit.h"

#include <gtest/gtest.h>

#include <limits>

namespace tolvane::ftp {
namespace {

constexpr int kSunday = 0;
constexpr int kMonday = 1;

std::tm At(int weekday, int hour, int minute, int second = 0) {
    std::tm when{};
    when.tm_wday = weekday;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    return when;
}

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

TEST(SpeedLimitTest, ShortestWindowInForceWins) {
    const std::vector<std::string> rules{"Everyday-0:00-23:59-100,50,10", "Monday-9:00-17:00-20,10,5"};
    const DynamicSpeeds noon = DynamicLimit(rules, At(kMonday, 12, 0));
    EXPECT_EQ(SpeedFor(noon, TransferKind::Receiving), 20);
    EXPECT_EQ(SpeedFor(noon, TransferKind::Sending), 10);
    EXPECT_EQ(SpeedFor(noon, TransferKind::Listing), 5);
    const DynamicSpeeds evening = DynamicLimit(rules, At(kMonday, 18, 0));
    EXPECT_EQ(SpeedFor(evening, TransferKind::Receiving), 100);
    EXPECT_EQ(SpeedFor(evening, TransferKind::Sending), 50);
    EXPECT_EQ(SpeedFor(evening, TransferKind::Listing), 10);
    EXPECT_EQ(DynamicLimit(rules, At(kSunday, 12, 0)).receiving, 100);
    EXPECT_EQ(DynamicLimit({}, At(kMonday, 12, 0)).sending, 0);
}

TEST(SpeedLimitTest, WindowIncludesBothEndMinutesAndIgnoresSeconds) {
    const std::vector<std::string> rules{"Monday-9:00-17:00-20,10,5"};
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 9, 0)).sending, 10);
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 17, 0, 59)).sending, 10);
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 17, 1)).sending, 0);
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 8, 59, 59)).sending, 0);
    for (int hour : {23, 0, 1}) EXPECT_EQ(DynamicLimit({"Everyday-22:00-2:00-1,1,1"}, At(kMonday, hour, 0)).sending, 0);
}

TEST(SpeedLimitTest, EqualWholeHourWindowsGoToTheEarlierRule) {
    // 2 h 59 min and 2 h both count as two hours.
    const std::vector<std::string> rules{"Everyday-10:00-12:59-1,1,1", "Everyday-10:00-12:00-2,2,2",
                                         "Monday-11:00-13:00-3,3,3"};
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 11, 0)).listing, 1);
    EXPECT_EQ(DynamicLimit({"Everyday-0:00-23:59-1,1,1", "Everyday-0:00-23:00-2,2,2"}, At(kMonday, 12, 0)).listing, 1);
}

TEST(SpeedLimitTest, JunkRulesAreIgnored) {
    const std::vector<std::string> rules{"", "junk", "Monday", "Monday-9:00-17:00", "monday-0:00-23:59-1,1,1",
                                         "Funday-0:00-23:59-1,1,1", "Everyday-abc-xyz-1,1,1",
                                         "Everyday-0:00-999999:00-1,1,1", "Monday-9:00-17:00-20,10,5"};
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 12, 0)).receiving, 20);
    EXPECT_EQ(DynamicLimit(rules, At(7, 12, 0)).receiving, 0);  // no such weekday
    EXPECT_EQ(DynamicLimit({"-0:00-23:59-1,1,1"}, At(-1, 12, 0)).receiving, 0);
}

TEST(SpeedLimitTest, MissingAndHostileSpeedsReadAsNumbersOrZero) {
    const auto speeds = [](const std::string& list) {
        return DynamicLimit({"Everyday-0:00-23:59-" + list}, At(kMonday, 12, 0));
    };
    EXPECT_EQ(speeds("7").receiving, 7);
    EXPECT_EQ(speeds("7").sending, 0);
    EXPECT_EQ(speeds("7,8").sending, 8);
    EXPECT_EQ(speeds("7,8").listing, 0);
    EXPECT_EQ(speeds("1.5,x,9,9").listing, 9);
    EXPECT_EQ(speeds("-20,nan,1e400").receiving, -20);
    EXPECT_EQ(speeds("-20,nan,1e400").sending, 0);
    EXPECT_EQ(speeds("-20,nan,1e400").listing, 0);
    EXPECT_EQ(ApplySpeedLimit("Dynamic", 0, speeds("-20,nan,1e400").receiving), SpeedLimit{});
    EXPECT_EQ(ApplySpeedLimit("Dynamic", 0, speeds("1e308").receiving), (SpeedLimit{true, kLargest}));
}

TEST(SpeedLimitTest, HugeTimesNeverOverflow) {
    const std::vector<std::string> huge{"Everyday-99999999999999999999:9-99999999999999999999:99999999999999-1,1,1",
                                        "Everyday-0:00-2147483647:2147483647-2,2,2", "Everyday-0:00-1024:00-3,3,3"};
    EXPECT_EQ(DynamicLimit(huge, At(kMonday, 12, 0)).receiving, 0);
    EXPECT_EQ(DynamicLimit({"Everyday-0:00-1023:59-4,4,4"}, At(kMonday, 12, 0)).receiving, 4);
    const int most = std::numeric_limits<int>::max();
    EXPECT_EQ(DynamicLimit({"Everyday-0:00-23:59-1,1,1"}, At(kMonday, most, most)).receiving, 0);
}

}  // namespace
}  // namespace tolvane::ftp
