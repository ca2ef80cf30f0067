// The account rules: permission letters and directory rules, IP rules, dynamic speed rules.
#include "ftp/PermissionSet.h"
#include "ftp/SpeedLimit.h"
#include "store/DirectoryRules.h"
#include "store/IpRules.h"
#include "store/SpeedRules.h"

#include <gtest/gtest.h>

#include <limits>

namespace tolvane::store {
namespace {

// ---- permission letters and directory rules ------------------------------

TEST(DirectoryRulesTest, LettersAreCaseSensitive) {
    const ftp::PermissionSet upper = ftp::PermissionsFromLetters("RCd");
    EXPECT_TRUE(upper.read && upper.renameFile && upper.deny);
    EXPECT_FALSE(upper.removeDirectory || upper.renameDirectory || upper.deleteFiles);
    const ftp::PermissionSet lower = ftp::PermissionsFromLetters("rc");
    EXPECT_TRUE(lower.removeDirectory && lower.renameDirectory);
    EXPECT_FALSE(lower.read || lower.renameFile || lower.deny);
    const ftp::PermissionSet all = ftp::PermissionsFromLetters("RWEDCLMrdcI");
    EXPECT_TRUE(all.read && all.write && all.execute && all.deleteFiles && all.renameFile && all.list &&
                all.makeDirectory && all.removeDirectory && all.deny && all.renameDirectory && all.inherit);
}

TEST(DirectoryRulesTest, ExactRuleWinsWithoutInheritAndOnlyInItsOwnCase) {
    const std::vector<std::string> rules{"/srv/ftp/,RLI", "/srv/ftp/Up/,W", "/srv/ftp/upload/,RWDLI"};
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/Up/"), 2);
    EXPECT_EQ(ftp::ComputePermissions(rules, "/srv/ftp/Up/"), ftp::PermissionsFromLetters("W"));
    // Without 'I' the rule stays on its own folder.
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/Up/x/"), 1);
    // On a case-sensitive file system these are other folders: the grants stay where they were given.
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/up/"), 1);
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/UPLOAD/"), 1);
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/UPLOAD/x/"), 1);
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/upload/x/"), 3);
}

TEST(DirectoryRulesTest, LongestCoveringRuleApplies) {
    const std::vector<std::string> rules{"/srv/ftp/up/,WI", "/srv/ftp/,RLI", "/srv/,RWLDI"};
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/up/x/"), 1);
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/pub/"), 2);
    EXPECT_EQ(SelectRule(rules, "/srv/other/"), 3);
    EXPECT_EQ(ftp::ComputePermissions(rules, "/srv/ftp/up/x/"), ftp::PermissionsFromLetters("WI"));
}

TEST(DirectoryRulesTest, EqualLengthsKeepTheEarlierRule) {
    EXPECT_EQ(SelectRule({"/srv/ftp/,RI", "/SRV/FTP/,WI"}, "/srv/ftp/x/"), 1);
    // A path written without its final '/' is the same folder, so the two tie too.
    EXPECT_EQ(SelectRule({"/srv/ftp,RI", "/srv/ftp/,WI"}, "/srv/ftp/x/"), 1);
    EXPECT_EQ(SelectRule({"/srv/ftp,RI", "/srv/ftp/,WI"}, "/srv/ftp/"), 1);
}

TEST(DirectoryRulesTest, DenyReachesEverythingBelowIt) {
    const std::vector<std::string> rules{"/srv/ftp/,RWLI", "/srv/ftp/priv/,d"};
    EXPECT_TRUE(ftp::ComputePermissions(rules, "/srv/ftp/priv/").deny);
    EXPECT_TRUE(ftp::ComputePermissions(rules, "/srv/ftp/priv/a/b/").deny);
    EXPECT_FALSE(ftp::ComputePermissions(rules, "/srv/ftp/privy/").deny);
    // A rule for a folder below the denied one still opens that folder.
    EXPECT_FALSE(ftp::ComputePermissions({"/srv/ftp/priv/,d", "/srv/ftp/priv/pub/,RL"}, "/srv/ftp/priv/pub/").deny);
}

TEST(DirectoryRulesTest, RuleCoversOnlyFoldersThatBeginWithIt) {
    EXPECT_EQ(SelectRule({"/ftp/,RLI"}, "/srv/ftp/"), 0);
    EXPECT_EQ(SelectRule({"ftp,RLI"}, "/srv/ftp/"), 0);
    EXPECT_EQ(SelectRule({"/srv/ftp,RLI"}, "/srv/ftp/x/"), 1);
    EXPECT_EQ(SelectRule({"/srv/ftp,RLI"}, "/srv/ftpold/x/"), 0);
    EXPECT_EQ(SelectRule({"/srv/ftp/x/,RLI"}, "/srv/ftp/"), 0);
}

TEST(DirectoryRulesTest, WithoutApplicableRuleOnlyDenyIsSet) {
    ftp::PermissionSet expected;
    expected.deny = true;
    EXPECT_EQ(ftp::DefaultPermissions(), expected);
    EXPECT_EQ(ftp::ComputePermissions({}, "/srv/ftp/"), expected);
    EXPECT_EQ(ftp::ComputePermissions({",RWLI", "RWLI"}, "/srv/ftp/"), expected);
    EXPECT_EQ(ftp::ComputePermissions({"/srv/ftp/,RWLI"}, ""), expected);
}

TEST(DirectoryRulesTest, RuleTextsSplitAtTheLastCommaAndStoreLettersInOrder) {
    const AccessingRule rule = ParseAccessingRule("/srv/a,b/,LR");
    EXPECT_EQ(rule.path, "/srv/a,b/");
    EXPECT_EQ(rule.letters, "LR");
    EXPECT_EQ(ParseAccessingRule("/srv/ftp/").letters, "");
    EXPECT_EQ(FormatAccessingRule({"/srv/a,b/", "IcdrMLCEDWRx"}), "/srv/a,b/,RWDECLMrdcI");
    EXPECT_EQ(SelectRule({"/srv/a,b/,RL"}, "/srv/a,b/"), 1);
    EXPECT_EQ(AllPermissionLetters(), "RWDECLMrdcI");
    EXPECT_TRUE(ArePermissionLetters(""));
    EXPECT_TRUE(ArePermissionLetters("RWDECLMrdcI"));
    EXPECT_FALSE(ArePermissionLetters("RX"));
    EXPECT_FALSE(ArePermissionLetters("R,W"));
}

// ---- IP rules ------------------------------------------------------------

void ExpectMatch(std::string_view pattern, std::string_view address, int wildcards, int weight) {
    const auto match = MatchIpPattern(pattern, address);
    ASSERT_TRUE(match.has_value()) << pattern << " vs " << address;
    EXPECT_EQ(match->wildcards, wildcards) << pattern;
    EXPECT_EQ(match->weight, weight) << pattern;
}

TEST(IpRulesTest, WildcardsCountAndWeighByPosition) {
    ExpectMatch("*.*.*.*", "10.1.2.3", 4, 15);
    ExpectMatch("10.1.2.3", "10.1.2.3", 0, 0);
    ExpectMatch("192.168.*.*", "192.168.1.7", 2, 3);
    ExpectMatch("*.1.2.3", "10.1.2.3", 1, 8);
    ExpectMatch("10.1.2.*", "10.1.2.3", 1, 1);
}

TEST(IpRulesTest, OnlyFourIdenticalComponentsMatch) {
    for (const std::string_view pattern : {"*.*.*", "10.1.2", "*.*.*.*.*", "10.1.2.3.4", "10.1.2.3.", ".10.1.2.3", ""}) {
        EXPECT_FALSE(MatchIpPattern(pattern, "10.1.2.3")) << pattern;
    }
    EXPECT_FALSE(MatchIpPattern("010.1.2.3", "10.1.2.3"));
    EXPECT_FALSE(MatchIpPattern("10.1.2.3", "010.1.2.3"));
    EXPECT_FALSE(MatchIpPattern("10.1.2.*", "10.1.2"));
    EXPECT_FALSE(MatchIpPattern("10.1.2.3", "10.1.2.33"));
}

TEST(IpRulesTest, MostSpecificMatchingRuleDecides) {
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

TEST(IpRulesTest, EqualRulesKeepTheEarlierOne) {
    EXPECT_FALSE(CheckIpAccess({"Deny:1.2.*.4", "Allow:1.2.*.4"}, "1.2.3.4"));
    EXPECT_TRUE(CheckIpAccess({"Allow:1.2.*.4", "Deny:1.2.*.4"}, "1.2.3.4"));
}

TEST(IpRulesTest, RefusedUnlessARuleSaysExactlyAllow) {
    EXPECT_TRUE(CheckIpAccess({}, "1.2.3.4"));
    EXPECT_FALSE(CheckIpAccess({"Allow:10.*.*.*"}, "1.2.3.4"));
    EXPECT_FALSE(CheckIpAccess({"allow:*.*.*.*"}, "1.2.3.4"));
    EXPECT_FALSE(CheckIpAccess({"Allowed:*.*.*.*"}, "1.2.3.4"));
    EXPECT_FALSE(CheckIpAccess({"Allow*.*.*.*"}, "1.2.3.4"));
    EXPECT_TRUE(CheckIpAccess({"Allow*.*.*.*", "Allow:*.*.*.*"}, "1.2.3.4"));
}

TEST(IpRulesTest, CommandLineRulesNeedAKnownTypeAndByteSizedComponents) {
    for (const char* rule : {"Allow:192.168.*.*", "Deny:*.*.*.*", "Allow:0.255.10.1"})
        EXPECT_TRUE(IsValidIpRule(rule)) << rule;
    for (const char* rule : {"allow:1.2.3.4", "Permit:1.2.3.4", "Allow", "Allow:1.2.3", "Allow:1.2.3.4.5",
                             "Allow:256.1.1.1", "Allow:0001.1.1.1", "Allow:1..2.3", "Allow:1.2.3.x", "Allow:1.2.3.4:5"})
        EXPECT_FALSE(IsValidIpRule(rule)) << rule;
    EXPECT_FALSE(ParseIpRule("Allow*.*.*.*"));
    EXPECT_EQ(ParseIpRule("Deny:1.2.*.*")->pattern, "1.2.*.*");
}

TEST(IpRulesTest, Ipv6RulesMatchExactlyOrByPrefixAndLongerPrefixesWin) {
    const std::vector<std::string> rules{"Allow:2001:db8::/32", "Deny:2001:db8:0:7::/64", "Allow:2001:DB8:0:7::9"};
    EXPECT_TRUE(CheckIpAccess(rules, "2001:db8:1::1"));
    EXPECT_FALSE(CheckIpAccess(rules, "2001:db8:0:7::8"));
    EXPECT_TRUE(CheckIpAccess(rules, "2001:db8:0:7::9"));
    EXPECT_FALSE(CheckIpAccess(rules, "2001:db9::1"));
    // Neither family's patterns match the other's addresses.
    EXPECT_FALSE(CheckIpAccess({"Allow:::/0"}, "127.0.0.1"));
    EXPECT_FALSE(CheckIpAccess({"Allow:*.*.*.*"}, "::1"));
    EXPECT_TRUE(CheckIpAccess({"Allow:*.*.*.*", "Allow:::1"}, "::1"));
    for (const char* valid : {"Allow:::1", "Deny:2001:db8::/32", "Allow:::/0", "Deny:fe80::/128"})
        EXPECT_TRUE(IsValidIpRule(valid)) << valid;
    for (const char* invalid : {"Allow:2001:db8::/129", "Allow:2001:db8::/", "Allow:2001:db8::/x", "Allow:1::2::3",
                                "Allow:10.0.0.0/8", "Allow:[::1]"})
        EXPECT_FALSE(IsValidIpRule(invalid)) << invalid;
}

// ---- dynamic speed rules -------------------------------------------------

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

TEST(SpeedRulesTest, ShortestWindowInForceWins) {
    const std::vector<std::string> rules{"Everyday-0:00-23:59-100,50,10", "Monday-9:00-17:00-20,10,5"};
    const DynamicSpeeds noon = DynamicLimit(rules, At(kMonday, 12, 0));
    EXPECT_EQ(ftp::SpeedFor(noon, ftp::TransferKind::Receiving), 20);
    EXPECT_EQ(ftp::SpeedFor(noon, ftp::TransferKind::Sending), 10);
    EXPECT_EQ(ftp::SpeedFor(noon, ftp::TransferKind::Listing), 5);
    const DynamicSpeeds evening = DynamicLimit(rules, At(kMonday, 18, 0));
    EXPECT_EQ(ftp::SpeedFor(evening, ftp::TransferKind::Receiving), 100);
    EXPECT_EQ(ftp::SpeedFor(evening, ftp::TransferKind::Sending), 50);
    EXPECT_EQ(ftp::SpeedFor(evening, ftp::TransferKind::Listing), 10);
    EXPECT_EQ(DynamicLimit(rules, At(kSunday, 12, 0)).receiving, 100);
    EXPECT_EQ(DynamicLimit({}, At(kMonday, 12, 0)).sending, 0);
}

TEST(SpeedRulesTest, WindowIncludesBothEndMinutesAndIgnoresSeconds) {
    const std::vector<std::string> rules{"Monday-9:00-17:00-20,10,5"};
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 9, 0)).sending, 10);
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 17, 0, 59)).sending, 10);
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 17, 1)).sending, 0);
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 8, 59, 59)).sending, 0);
    for (int hour : {23, 0, 1}) EXPECT_EQ(DynamicLimit({"Everyday-22:00-2:00-1,1,1"}, At(kMonday, hour, 0)).sending, 0);
}

TEST(SpeedRulesTest, EqualWholeHourWindowsGoToTheEarlierRule) {
    // 2 h 59 min and 2 h both count as two hours.
    const std::vector<std::string> rules{"Everyday-10:00-12:59-1,1,1", "Everyday-10:00-12:00-2,2,2",
                                         "Monday-11:00-13:00-3,3,3"};
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 11, 0)).listing, 1);
    EXPECT_EQ(DynamicLimit({"Everyday-0:00-23:59-1,1,1", "Everyday-0:00-23:00-2,2,2"}, At(kMonday, 12, 0)).listing, 1);
}

TEST(SpeedRulesTest, JunkRulesAreIgnored) {
    const std::vector<std::string> rules{"", "junk", "Monday", "Monday-9:00-17:00", "monday-0:00-23:59-1,1,1",
                                         "Funday-0:00-23:59-1,1,1", "Everyday-abc-xyz-1,1,1",
                                         "Everyday-0:00-999999:00-1,1,1", "Monday-9:00-17:00-20,10,5"};
    EXPECT_EQ(DynamicLimit(rules, At(kMonday, 12, 0)).receiving, 20);
    EXPECT_EQ(DynamicLimit(rules, At(7, 12, 0)).receiving, 0);  // no such weekday
    EXPECT_EQ(DynamicLimit({"-0:00-23:59-1,1,1"}, At(-1, 12, 0)).receiving, 0);
}

TEST(SpeedRulesTest, HugeTimesNeverOverflow) {
    const std::vector<std::string> huge{"Everyday-99999999999999999999:9-99999999999999999999:99999999999999-1,1,1",
                                        "Everyday-0:00-2147483647:2147483647-2,2,2", "Everyday-0:00-1024:00-3,3,3"};
    EXPECT_EQ(DynamicLimit(huge, At(kMonday, 12, 0)).receiving, 0);
    EXPECT_EQ(DynamicLimit({"Everyday-0:00-1023:59-4,4,4"}, At(kMonday, 12, 0)).receiving, 4);
    const int most = std::numeric_limits<int>::max();
    EXPECT_EQ(DynamicLimit({"Everyday-0:00-23:59-1,1,1"}, At(kMonday, most, most)).receiving, 0);
}

TEST(SpeedRulesTest, MissingAndHostileSpeedsReadAsNumbersOrZero) {
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
    EXPECT_EQ(ftp::ApplySpeedLimit("Dynamic", 0, speeds("-20,nan,1e400").receiving), ftp::SpeedLimit{});
    EXPECT_EQ(ftp::ApplySpeedLimit("Dynamic", 0, speeds("1e308").receiving),
              (ftp::SpeedLimit{true, std::numeric_limits<std::uint32_t>::max()}));
}

// The command line and the editor accept the same rules.
TEST(SpeedRulesTest, ValidRulesHaveAKnownDayClockTimesAndThreeSpeeds) {
    for (const char* rule : {"Everyday-0:00-23:59-1,2,3", "Sunday-7:5-09:30-1.5,0.,100", "Monday-8:00-17:30-0,0,0"})
        EXPECT_TRUE(IsValidSpeedRule(rule)) << rule;
    for (const char* rule : {"everyday-0:00-23:59-1,2,3", "Funday-0:00-23:59-1,2,3", "Monday-007:05-8:00-1,2,3",
                             "Monday-24:00-8:00-1,2,3", "Monday-8:60-9:00-1,2,3", "Monday-8-9:00-1,2,3",
                             "Monday-8:00-9:00-1,2", "Monday-8:00-9:00-1,2,3,4", "Monday-8:00-9:00-1,-2,3",
                             "Monday-8:00-9:00-.5,1,1", "Monday-8:00-9:00-1234567890,1,1", "Monday-8:00-9:00"})
        EXPECT_FALSE(IsValidSpeedRule(rule)) << rule;
    EXPECT_TRUE(IsSpeedRuleTime("7:5"));
    EXPECT_FALSE(IsSpeedRuleTime("007:05"));
    EXPECT_TRUE(IsSpeedValue("123456789.123456789"));
    EXPECT_FALSE(IsSpeedValue("1.2.3"));
}

}  // namespace
}  // namespace tolvane::store
