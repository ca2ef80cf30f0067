#include "ftp/PermissionSet.h"

#include <gtest/gtest.h>

namespace tolvane::ftp {
namespace {

TEST(PermissionSetTest, LettersAreCaseSensitive) {
    const PermissionSet upper = PermissionsFromLetters("RCd");
    EXPECT_TRUE(upper.read && upper.renameFile && upper.deny);
    EXPECT_FALSE(upper.removeDirectory || upper.renameDirectory || upper.deleteFiles);
    const PermissionSet lower = PermissionsFromLetters("rc");
    EXPECT_TRUE(lower.removeDirectory && lower.renameDirectory);
    EXPECT_FALSE(lower.read || lower.renameFile || lower.deny);
    const PermissionSet all = PermissionsFromLetters("RWEDCLMrdcI");
    EXPECT_TRUE(all.read && all.write && all.execute && all.deleteFiles && all.renameFile && all.list &&
                all.makeDirectory && all.removeDirectory && all.deny && all.renameDirectory && all.inherit);
}

TEST(PermissionSetTest, ExactRuleWinsWithoutInheritAndWithoutRegardToCase) {
    const std::vector<std::string> rules{"/srv/ftp/,RLI", "/SRV/FTP/Up/,W"};
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/up/"), 2);
    EXPECT_EQ(ComputePermissions(rules, "/srv/ftp/up/"), PermissionsFromLetters("W"));
    // Without 'I' the rule stays on its own folder.
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/up/x/"), 1);
}

TEST(PermissionSetTest, LongestCoveringRuleApplies) {
    const std::vector<std::string> rules{"/srv/ftp/up/,WI", "/srv/ftp/,RLI", "/srv/,RWLDI"};
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/up/x/"), 1);
    EXPECT_EQ(SelectRule(rules, "/srv/ftp/pub/"), 2);
    EXPECT_EQ(SelectRule(rules, "/srv/other/"), 3);
    EXPECT_EQ(ComputePermissions(rules, "/srv/ftp/up/x/"), PermissionsFromLetters("WI"));
}

TEST(PermissionSetTest, EqualLengthsKeepTheEarlierRule) {
    EXPECT_EQ(SelectRule({"/srv/ftp/,RI", "/SRV/FTP/,WI"}, "/srv/ftp/x/"), 1);
    // A path written without its final '/' is the same folder, so the two tie too.
    EXPECT_EQ(SelectRule({"/srv/ftp,RI", "/srv/ftp/,WI"}, "/srv/ftp/x/"), 1);
    EXPECT_EQ(SelectRule({"/srv/ftp,RI", "/srv/ftp/,WI"}, "/srv/ftp/"), 1);
}

TEST(PermissionSetTest, DenyReachesEverythingBelowIt) {
    const std::vector<std::string> rules{"/srv/ftp/,RWLI", "/srv/ftp/priv/,d"};
    EXPECT_TRUE(ComputePermissions(rules, "/srv/ftp/priv/").deny);
    EXPECT_TRUE(ComputePermissions(rules, "/srv/ftp/priv/a/b/").deny);
    EXPECT_FALSE(ComputePermissions(rules, "/srv/ftp/privy/").deny);
    // A rule for a folder below the denied one still opens that folder.
    EXPECT_FALSE(ComputePermissions({"/srv/ftp/priv/,d", "/srv/ftp/priv/pub/,RL"}, "/srv/ftp/priv/pub/").deny);
}

TEST(PermissionSetTest, RuleCoversOnlyFoldersThatBeginWithIt) {
    EXPECT_EQ(SelectRule({"/ftp/,RLI"}, "/srv/ftp/"), 0);
    EXPECT_EQ(SelectRule({"ftp,RLI"}, "/srv/ftp/"), 0);
    EXPECT_EQ(SelectRule({"/srv/ftp,RLI"}, "/srv/ftp/x/"), 1);
    EXPECT_EQ(SelectRule({"/srv/ftp,RLI"}, "/srv/ftpold/x/"), 0);
    EXPECT_EQ(SelectRule({"/srv/ftp/x/,RLI"}, "/srv/ftp/"), 0);
}

TEST(PermissionSetTest, WithoutApplicableRuleOnlyDenyIsSet) {
    PermissionSet expected;
    expected.deny = true;
    EXPECT_EQ(DefaultPermissions(), expected);
    EXPECT_EQ(ComputePermissions({}, "/srv/ftp/"), expected);
    EXPECT_EQ(ComputePermissions({",RWLI", "RWLI"}, "/srv/ftp/"), expected);
    EXPECT_EQ(ComputePermissions({"/srv/ftp/,RWLI"}, ""), expected);
}

}  // namespace
}  // namespace tolvane::ftp
