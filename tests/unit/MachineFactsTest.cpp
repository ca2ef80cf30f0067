#include "ftp/ExtendedPort.h"
#include "ftp/MachineFacts.h"

#include <gtest/gtest.h>

namespace tolvane::ftp {
namespace {

TEST(MachineFactsTest, TimestampsAreUtcAndRefuseWhatIsNoDate) {
    EXPECT_EQ(UtcTimestamp(0), "19700101000000");
    EXPECT_EQ(UtcTimestamp(1588334400), "20200501120000");
    EXPECT_EQ(ParseUtcTimestamp("20200501120000"), 1588334400);
    EXPECT_EQ(ParseUtcTimestamp("20200501120000.123"), 1588334400);
    EXPECT_EQ(ParseUtcTimestamp("20240229000000"), 1709164800);
    for (const char* wrong : {"", "2020050112000", "202005011200000", "20200501120000.", "20200501120000.x",
                              "2020-5-1120000", "20230229000000", "20201301000000", "20200501240000",
                              "20200501126000", "20200500120000", "+0200501120000"})
        EXPECT_EQ(ParseUtcTimestamp(wrong), std::nullopt) << wrong;
}

TEST(MachineFactsTest, FactsFollowTheChoiceAndTheKindOfEntry) {
    FactEntry file{.kind = FactKind::File, .size = 5, .modified = 1588334400, .mode = 0100644, .device = 0x803,
                   .inode = 0x1a2b};
    file.holder = PermissionsFromLetters("RWDC");
    EXPECT_EQ(FactsText(file, kAllFacts),
              "type=file;size=5;modify=20200501120000;perm=adfrw;unique=803U1a2b;UNIX.mode=0644; ");
    EXPECT_EQ(FactsText(file, kFactSize | kFactType), "type=file;size=5; ");
    EXPECT_EQ(FactsText(file, 0), " ");

    FactEntry folder = file;
    folder.kind = FactKind::Directory;
    folder.mode = 041777;
    folder.holder = PermissionsFromLetters("rc");  // remove and rename folders here
    folder.own = PermissionsFromLetters("LMW");
    EXPECT_EQ(FactsText(folder, kAllFacts),
              "type=dir;modify=20200501120000;perm=cdeflm;unique=803U1a2b;UNIX.mode=1777; ");
    folder.own = PermissionsFromLetters("LMd");
    EXPECT_EQ(PermFact(folder), "df");  // a denied folder cannot be entered: none of its own rights
    folder.kind = FactKind::CurrentDirectory;
    folder.own = PermissionsFromLetters("LD");
    EXPECT_EQ(PermFact(folder), "elp");
}

TEST(MachineFactsTest, FactListsOfOptsAndFeat) {
    EXPECT_EQ(ParseFactList("type;Size;UNIX.MODE;bogus;"), kFactType | kFactSize | kFactMode);
    EXPECT_EQ(ParseFactList(""), 0u);
    EXPECT_EQ(ParseFactList("modify"), kFactModify);
    EXPECT_EQ(FactListText(kFactType | kFactMode, false), "type;UNIX.mode;");
    EXPECT_EQ(FactListText(kFactType | kFactMode, true), "type*;size;modify;perm;unique;UNIX.mode*;");
    EXPECT_EQ(FactListText(0, false), "");
}

TEST(MachineFactsTest, ExtendedPortArguments) {
    const auto parsed = ParseExtendedPort("|1|132.235.1.2|6275|");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->family, 1);
    EXPECT_EQ(parsed->address, "132.235.1.2");
    EXPECT_EQ(parsed->port, 6275);
    const auto other = ParseExtendedPort("!2!1080::8:800:200C:417A!5282!");
    ASSERT_TRUE(other);
    EXPECT_EQ(other->family, 2);
    EXPECT_EQ(other->address, "1080::8:800:200C:417A");
    for (const char* wrong : {"", "|", "||", "|1|1.2.3.4|6275", "|1|1.2.3.4|6275|x|", "|1||6275|", "|x|1.2.3.4|6275|",
                              "|1|1.2.3.4|0|", "|1|1.2.3.4|65536|", "|1|1.2.3.4|123456|", "|1|1.2.3.4||",
                              " 1 1.2.3.4 6275 ", "|1|1.2.3.4|-1|"})
        EXPECT_EQ(ParseExtendedPort(wrong), std::nullopt) << wrong;
}

}  // namespace
}  // namespace tolvane::ftp
