#include "store/AccountDatabase.h"

#include <gtest/gtest.h>

#include <climits>

#include "TempFolder.h"

using namespace tolvane::store;
namespace fs = std::filesystem;

namespace {

using Texts = std::vector<std::string>;

class AccountDatabaseTest : public ::testing::Test {
protected:
    AccountDatabaseTest() {
        fs::create_directories(users);
        fs::create_directories(groups);
    }
    void AddUser(std::string_view name, std::string_view text = "") { WriteText(UserFile(users, name), text); }
    void AddMember(std::string_view group, std::string_view name, std::string_view text = "") {
        WriteText(GroupFile(groups, group), "");
        WriteText(UserFile(GroupMembersDir(groups, group), name), text);
    }
    AccountSettings LoadUser(std::string_view text) {
        AddUser("u", text);
        return LoadAccountSettings(UserFile(users, "u"), UserFile(users, "u"));
    }

    TempFolder home;
    fs::path database = DatabaseDir(home.path());
    fs::path users = UsersDir(database, "h");
    fs::path groups = GroupsDir(database, "h");
    fs::path userFile = UserFile(users, "u");
};

TEST_F(AccountDatabaseTest, FindAccountPrefersUsersThenGroupsByName) {
    AddUser("solo");
    AddMember("beta", "twice");
    AddMember("alpha", "twice");
    AddMember("beta", "both");
    AddUser("both");

    const auto solo = FindAccount(users, groups, "solo");
    ASSERT_TRUE(solo);
    EXPECT_EQ(solo->accountFile, users / "solo.FTP_User");
    EXPECT_EQ(solo->settingsFile, solo->accountFile);
    EXPECT_EQ(FindAccount(users, groups, "both")->settingsFile, users / "both.FTP_User");
    const auto twice = FindAccount(users, groups, "twice");
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->accountFile, groups / "alpha" / "twice.FTP_User");
    EXPECT_EQ(twice->settingsFile, groups / "alpha.FTP_Group");
}

TEST_F(AccountDatabaseTest, FindAccountFindsNothingForUnknownOrMalformedNames) {
    AddUser("bob");
    WriteText(groups / "orphan" / "carol.FTP_User", "");  // member folder without a group file
    fs::create_directories(users / "dir.FTP_User");
    for (const char* name : {"nobody", "carol", "Bob", "", "dir"}) {
        EXPECT_FALSE(FindAccount(users, groups, name)) << name;
    }
    EXPECT_FALSE(FindAccount(groups, groups, "../Users/bob"));
}

constexpr std::string_view kMemberFile =
    "[Userinformation]\nPassword=member-pw\nRootDir=/member/\n"
    "[MISC-OPTIONS]\nDisableAccount=TRUE\nMaxUsers=1\nTimeout=60\nLoginMessage=/member.txt\n"
    "[SPEED-LIMIT]\nEnabled=Static\nSendingSpeed=1\nReceivingSpeed=1\nListingSpeed=1\n[RATIO]\nCredit=100\n";
constexpr std::string_view kGroupFile =
    "[Userinformation]\nPassword=group-pw\nRootDir=/group/\nAccessingRules1=/group/,RL\n"
    "[IPAccess]\nIPAccessRule0=Deny:*.*.*.*\n"
    "[MISC-OPTIONS]\nDisableAccount=FALSE\nMaxUsers=9\nTimeout=120\nLoginMessage=/group.txt\n"
    "[SPEED-LIMIT]\nEnabled=Dynamic\nSendingSpeed=2\nReceivingSpeed=2.5\nListingSpeed=2\n[RATIO]\nCredit=200\n";

TEST_F(AccountDatabaseTest, GroupMemberTakesFixedKeysFromTheGroupFile) {
    AddMember("staff", "ann", kMemberFile);
    WriteText(GroupFile(groups, "staff"), kGroupFile);
    const AccountFiles files = *FindAccount(users, groups, "ann");

    EXPECT_EQ(ReadAccountKey(files, "Userinformation", "Password"), "member-pw");
    EXPECT_EQ(ReadAccountKey(files, "Userinformation", "RootDir"), "/group/");
    EXPECT_EQ(ReadAccountKey(files, "IPAccess", "IPAccessRule0"), "Deny:*.*.*.*");
    EXPECT_EQ(ReadAccountList(files, "Userinformation", "AccessingRules", 1), Texts{"/group/,RL"});

    // First load at USER: the member's own file, except the keys fixed to the group.
    const AccountSettings first = LoadAccountSettings(files.accountFile, files.settingsFile);
    EXPECT_EQ(first.password, "member-pw");
    EXPECT_TRUE(first.disableAccount);
    EXPECT_EQ(first.maxUsers, 1);
    EXPECT_EQ(first.loginMessage, "/member.txt");
    EXPECT_EQ(first.credit, 100);
    EXPECT_DOUBLE_EQ(first.listingSpeed, 1.0);
    EXPECT_EQ(first.timeout, 120);
    EXPECT_EQ(first.speedLimitMode, "Dynamic");
    EXPECT_DOUBLE_EQ(first.sendingSpeed, 2.0);
    EXPECT_DOUBLE_EQ(first.receivingSpeed, 2.5);
    EXPECT_EQ(first.dynamicRuleFile, files.settingsFile);

    const AccountSettings second = LoadAccountSettings(files.settingsFile, files.settingsFile);
    EXPECT_FALSE(second.disableAccount);
    EXPECT_EQ(second.loginMessage, "/group.txt");
    EXPECT_DOUBLE_EQ(second.listingSpeed, 2.0);
}

TEST_F(AccountDatabaseTest, NameWithoutAccountReadsErrorAndDefaults) {
    EXPECT_EQ(ReadAccountKey({}, "Userinformation", "RootDir"), "ERROR");
    const AccountSettings none = LoadAccountSettings({}, {});
    EXPECT_EQ(none.ipHome, ">> All IP Homes <<");
    EXPECT_EQ(none.multipleLogins, 1);
    EXPECT_EQ(none.timeout, -1);
    EXPECT_EQ(none.speedLimitMode, "-1");
    EXPECT_EQ(none.logFilenameMask, "%DATE-%TIME-%USER-%IP");
}

TEST_F(AccountDatabaseTest, OnlyTheRatioFlagIsOnUnlessExactlyFalse) {
    const AccountSettings lower = LoadUser("[MISC-OPTIONS]\nDisableAccount=true\n[RATIO]\nRatioEnabled=true\n");
    EXPECT_FALSE(lower.disableAccount);
    EXPECT_TRUE(lower.ratioEnabled);
    EXPECT_TRUE(LoadUser("[MISC-OPTIONS]\nDisableAccount=TRUE\n").disableAccount);
    EXPECT_FALSE(LoadUser("").ratioEnabled);
    EXPECT_TRUE(LoadUser("[RATIO]\nRatioEnabled=\n").ratioEnabled);
}

TEST_F(AccountDatabaseTest, AccountUserLimitWithoutValueIs35000) {
    EXPECT_EQ(LoadUser("[MISC-OPTIONS]\nMaxUsers=-1\n").maxUsers, 35000);
    EXPECT_EQ(LoadUser("[MISC-OPTIONS]\nMaxUsers=\n").maxUsers, 35000);
    EXPECT_EQ(LoadUser("[MISC-OPTIONS]\n").maxUsers, 35000);
    EXPECT_EQ(LoadUser("[MISC-OPTIONS]\nMaxUsers=3\n").maxUsers, 3);
}

TEST_F(AccountDatabaseTest, ListsEndAtErrorOrAGapAndWritersTerminateThem) {
    WriteText(userFile, "[Userinformation]\nAccessingRules1=/a/,R\nAccessingRules2=/b/,R\nAccessingRules4=/d/,R\n"
                        "[IPAccess]\nIPAccessRule0=Allow:1.*.*.*\nIPAccessRule1=ERROR\nIPAccessRule2=Deny:*.*.*.*\n");
    EXPECT_EQ(ReadList(userFile, "Userinformation", "AccessingRules", 1), (Texts{"/a/,R", "/b/,R"}));
    EXPECT_EQ(ReadList(userFile, "IPAccess", "IPAccessRule", 0), Texts{"Allow:1.*.*.*"});

    ASSERT_TRUE(WriteList(userFile, "Userinformation", "AccessingRules", 1, {"/x/,L"}));
    EXPECT_EQ(ReadList(userFile, "Userinformation", "AccessingRules", 1), Texts{"/x/,L"});
    ASSERT_TRUE(WriteList(userFile, "SPEED-LIMIT", "DynamicSpeedLimitRule", 0, {}));
    EXPECT_EQ(ReadProfileString(userFile, "SPEED-LIMIT", "DynamicSpeedLimitRule0", ""), "ERROR");
}

TEST_F(AccountDatabaseTest, WriteAccountWritesEveryKeyInOrder) {
    AccountValues values;
    values.password = "pw";
    values.rootDir = "/srv/ftp/";
    values.accessingRules = {{"/srv/ftp/", "IdLRx"}};
    values.hideHidden = true;
    values.timeoutMinutes = "5";
    values.ratioEnabled = true;
    values.ratioType = "Files per Session";
    values.ipAccessRules = {"Allow:127.0.0.1", "Deny:*.*.*.*"};
    values.speedLimitMode = SpeedLimitMode::Static;
    values.sendingSpeed = "10";
    ASSERT_TRUE(WriteAccount(userFile, values));
    EXPECT_EQ(ReadText(userFile),
              "[Userinformation]\nPassword=pw\nRootDir=/srv/ftp/\n"
              "AccessingRules1=/srv/ftp/,RLdI\nAccessingRules2=ERROR\n"
              "\n[MISC-OPTIONS]\nDisableAccount=FALSE\nHideHidden=TRUE\nShowRelativePath=FALSE\nAllow=FALSE\n"
              "MaxUsers=\nLoginMessage=\nTimeout=300\nMultipleLogins=\n"
              "\n[RATIO]\nRatioEnabled=TRUE\nRatioType=Files per Session\nUpload=\nDownload=\nCredit=\n"
              "\n[IPAccess]\nIPAccessRule0=Allow:127.0.0.1\nIPAccessRule1=Deny:*.*.*.*\nIPAccessRule2=ERROR\n"
              "\n[Logging]\nEnabled=FALSE\nFilenameMask=\nLogFTPCommands=FALSE\nLogFTPReplies=FALSE\n"
              "LogSystemMessages=FALSE\n"
              "\n[SPEED-LIMIT]\nReceivingSpeed=\nSendingSpeed=10\nListingSpeed=\nEnabled=Static\n"
              "DynamicSpeedLimitRule0=ERROR\n");
}

TEST_F(AccountDatabaseTest, WriteAccountKeepsKeysItDoesNotOwn) {
    WriteText(userFile, "[Userinformation]\nPassword=old\nIPHome=10.0.0.1\n[MISC-OPTIONS]\nTimeout=600\n");
    AccountValues values;
    values.timeoutMinutes = "0";
    ASSERT_TRUE(WriteAccount(userFile, values));
    EXPECT_EQ(ReadProfileString(userFile, "Userinformation", "IPHome", ""), "10.0.0.1");
    EXPECT_EQ(ReadProfileInt(userFile, "MISC-OPTIONS", "Timeout", 0), -1) << "0 minutes means no time-out";
}

TEST_F(AccountDatabaseTest, IpHomeFilesRoundTripAndLimitsDefaultToNone) {
    const fs::path fresh = IpHomeFile(database, kDefaultIpHome);
    ASSERT_TRUE(WriteDefaultIpHome(fresh));
    EXPECT_EQ(ReadText(fresh), "[ServerSettings]\nServerName=Tolvane Daemon\nServerIP=All IP's\nServerPort=21\n"
                               "MaxUsers=\nMaxTransfers=\n");
    const IpHome defaults = ReadIpHome(fresh);
    EXPECT_EQ(defaults.name, "[Full Machine]");
    EXPECT_EQ(defaults.maxUsers, -1);
    EXPECT_EQ(defaults.storeOverwrite, -1);
    EXPECT_EQ(defaults.usersDir, database / "[Full Machine]" / "Users" / "");

    IpHome values;
    values.serverName = std::string(300, 'n');
    values.maxTransfers = 5;
    values.disabled = 1;
    const fs::path file = IpHomeFile(database, "127.0.0.1-2121");
    ASSERT_TRUE(WriteIpHome(file, values));
    EXPECT_EQ(ReadProfileString(file, "ServerSettings", "MaxUsers", "x"), "") << "no limit is written empty";
    const IpHome read = ReadIpHome(file);
    EXPECT_EQ(read.serverName.size(), 255u);
    EXPECT_EQ(read.maxTransfers, 5);
    EXPECT_EQ(read.disabled, 1);
}

TEST_F(AccountDatabaseTest, CreatedEntriesShapeTheTreeAndNeverOverwrite) {
    ASSERT_TRUE(CreateIpHome(database, "[New IPHome]"));
    EXPECT_TRUE(fs::is_directory(GroupsDir(database, "[New IPHome]")));
    EXPECT_EQ(ListTitles(database, kIpHomeExtension), Texts{"[New IPHome]"});
    ASSERT_TRUE(CreateGroup(groups, "New Group"));
    ASSERT_TRUE(CreateUser(GroupMembersDir(groups, "New Group"), "New User"));
    EXPECT_TRUE(FindAccount(users, groups, "New User"));

    AddUser("bob", "[Userinformation]\nPassword=keep\n");
    EXPECT_FALSE(CreateUser(users, "bob"));
    EXPECT_EQ(ReadProfileString(UserFile(users, "bob"), "Userinformation", "Password", ""), "keep");
    EXPECT_FALSE(CreateUser(users, "../../escape"));
    EXPECT_FALSE(fs::exists(database / "escape.FTP_User"));
}

TEST_F(AccountDatabaseTest, RenamesKeepContentAndNeverReplaceAnotherEntry) {
    AddUser("old", "[Userinformation]\nIPHome=10.0.0.1\n");
    AddUser("taken");
    EXPECT_FALSE(RenameUser(users, "old", "taken"));
    ASSERT_TRUE(RenameUser(users, "old", "new"));
    EXPECT_EQ(ReadProfileString(UserFile(users, "new"), "Userinformation", "IPHome", ""), "10.0.0.1");

    AddMember("team", "ann");
    ASSERT_TRUE(RenameGroup(groups, "team", "crew"));
    EXPECT_EQ(FindAccount(users, groups, "ann")->settingsFile, GroupFile(groups, "crew"));

    ASSERT_TRUE(CreateIpHome(database, "[New IPHome]"));
    ASSERT_TRUE(RenameIpHome(database, "[New IPHome]", "10.0.0.1-21"));
    EXPECT_TRUE(fs::is_directory(UsersDir(database, "10.0.0.1-21")));
    EXPECT_FALSE(RenameIpHome(database, "10.0.0.1-21", "h")) << "a folder of that name exists";
}

TEST_F(AccountDatabaseTest, DeletionsRemoveWholeEntriesButNotTheDefaultHome) {
    AddMember("team", "ann");
    ASSERT_TRUE(DeleteGroup(groups, "team"));
    EXPECT_FALSE(fs::exists(GroupMembersDir(groups, "team")));
    EXPECT_FALSE(fs::exists(GroupFile(groups, "team")));

    ASSERT_TRUE(CreateIpHome(database, kDefaultIpHome));
    EXPECT_FALSE(DeleteIpHome(database, kDefaultIpHome));
    EXPECT_FALSE(RenameIpHome(database, kDefaultIpHome, "x-1"));
    EXPECT_TRUE(fs::exists(IpHomeFile(database, kDefaultIpHome)));
}

TEST_F(AccountDatabaseTest, HostileAccountFilesReadAsDefaults) {
    std::string junk =
        "[MISC-OPTIONS]\nMaxUsers\n\x01\x02\xff\n[Logging\nEnabled=TRUE\n[RATIO]\nCredit=99999999999999\n";
    junk += "[Userinformation]\nPassword=" + std::string(10 * 1024 * 1024, 'p') + "\nRootDir=/srv/\n";
    const AccountSettings settings = LoadUser(junk);
    EXPECT_EQ(settings.maxUsers, 35000);
    EXPECT_FALSE(settings.logEnabled) << "a header without ']' opens no section";
    EXPECT_EQ(settings.credit, INT_MAX);
    EXPECT_EQ(settings.password.size(), 1023u);
}

TEST_F(AccountDatabaseTest, DatabaseThatIsAFileBehavesAsEmpty) {
    fs::remove_all(database);
    WriteText(home.path() / "Database", "junk");
    EXPECT_TRUE(ListTitles(database, kIpHomeExtension).empty());
    EXPECT_FALSE(FindAccount(users, groups, "bob"));
    EXPECT_EQ(ReadIpHome(IpHomeFile(database, "h")).maxUsers, -1);
    EXPECT_FALSE(CreateIpHome(database, "h"));
    EXPECT_FALSE(WriteAccount(userFile, {}));
}

}  // namespace
