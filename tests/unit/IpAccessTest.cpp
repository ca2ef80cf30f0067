#include "ftp/IpAccess.h"

#include <gtest/gtest.h>

namespace tolvane::ftp {
namespace {

void ExpectMatch(std::string_view pattern, std::string_view address, int wildcards, int weight) {
    const auto match = MatchIpPattern(pattern, address);
    ASSERT_TRUE(match.has_value()) << pattern << " vs " << address;
    EXPECT_EQ(match->wildcards, wildcards) << pattern;
    EXPECT_EQ(match->weight, weight) << pattern;
}

TEST(IpAccessTest, WildcardsCountAndWeighByPosition) {
    ExpectMatch("*.*.*.*", "10.1.2.3", 4, 15);
    ExpectMatch("10.1.2.3", "10.1.2.3", 0, 0);
    ExpectMatch("192.168.*.*", "192.168.1.7", 2, 3);
    ExpectMatch("*.1.2.3", "10.1.2.3", 1, 8);
    ExpectMatch("10.1.2.*", "10.1.2.3", 1, 1);
}

TEST(IpAccessTest, OnlyFourIdenticalComponentsMatch) {
    for (const std::string_view pattern : {"*.*.*", "10.1.2", "*.*.*.*.*", "10.1.2.3.4", "10.1.2.3.", ".10.1.2.3", ""}) {
        EXPECT_FALSE(MatchIpPattern(pattern, "10.1.2.3")) << pattern;
    }
    EXPECT_FALSE(MatchIpPattern("010.1.2.3", "10.1.2.3"));
    EXPECT_FALSE(MatchIpPattern("10.1.2.3", "010.1.2.3"));
    EXPECT_FALSE(MatchIpPattern("10.1.2.*", "10.1.2"));
    EXPECT_FALSE(MatchIpPattern("10.1.2.3", "10.1.2.33"));
}

TEST(IpAccessTest, MostSpecificMatchingRuleDecides) {
    const std::vector<std::string> denyAllButLan{"Deny:*.*.*.*", "Allow:192.168.1.*"};
    EXPECT_TRUE(CheckIpAccess(denyAllButLan, "192.168.1.7"));
    EXPECT_FALSE(CheckIpAccess(denyAllButLan, "10.0.0.1"));
    const std::vector<std::string> allowAllButTen{"Allow:*.*.*.*", "Deny:10.*.*.*"};
    EXPECT_FALSE(CheckIpAccess(allowAllButTen, "10.1.2.3"));
    EXPECT_TRUE(CheckIpAccess(allowAllButTen, "11.1.2.3"));
    // Equal wildcard counts: the wildcard further right is more specific.
    EXPECT_FALSE(CheckIpAccess({"Allow:*.2.3.4", "Deny:1.2.3.*"}, "1.2.3.4"));
    EXPECT_TRUE(CheckIpAccess({"Deny:*.2.3.4", "Allow:1.2.3.*"}, "1.2.3.4"));
}

TEST(IpAccessTest, EqualRulesKeepTheEarlierOne) {
    EXPECT_FALSE(CheckIpAccess({"Deny:1.2.*.4", "Allow:1.2.*.4"}, "1.2.3.4"));
    EXPECT_TRUE(CheckIpAccess({"Allow:1.2.*.4", "Deny:1.2.*.4"}, "1.2.3.4"));
}

TEST(IpAccessTest, RefusedUnlessARuleSaysExactlyAllow) {
    EXPECT_TRUE(CheckIpAccess({}, "1.2.3.4"));
    EXPECT_FALSE(CheckIpAccess({"Allow:10.*.*.*"}, "1.2.3.4"));
    EXPECT_FALSE(CheckIpAccess({"allow:*.*.*.*"}, "1.2.3.4"));
    EXPECT_FALSE(CheckIpAccess({"Allowed:*.*.*.*"}, "1.2.3.4"));
    EXPECT_FALSE(CheckIpAccess({"Allow*.*.*.*"}, "1.2.3.4"));
    EXPECT_TRUE(CheckIpAccess({"Allow*.*.*.*", "Allow:*.*.*.*"}, "1.2.3.4"));
}

}  // namespace
}  // namespace tolvane::ftp
