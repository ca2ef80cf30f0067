#include "ftp/ListingLine.h"

#include <gtest/gtest.h>

#include <limits>

namespace tolvane::ftp {
namespace {

std::time_t LocalTime(int month, int day, int hour, int minute) {
    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

ListingEntry File(std::string name, std::int64_t size = 1234) {
    return {std::move(name), false, size, LocalTime(1, 5, 9, 7), false, {}};
}

std::string Line(const ListingEntry& entry, bool hideHidden = false, bool showRelativePath = false) {
    return FormatListingLine(entry, hideHidden, showRelativePath).value_or("<no line>");
}

TEST(ListingLineTest, FileLineHasTheFixedLayout) {
    EXPECT_EQ(Line(File("name")), "-rwx------   1 user     group       1234 Jan  5 09:07 name\r\n");
    EXPECT_EQ(Line(File("empty file", 0)), "-rwx------   1 user     group          0 Jan  5 09:07 empty file\r\n");
    ListingEntry may = File("m");
    may.modified = LocalTime(5, 31, 14, 30);
    EXPECT_EQ(Line(may), "-rwx------   1 user     group       1234 Mai 31 14:30 m\r\n");
}

TEST(ListingLineTest, SizesBeyond32BitsAreShownWhole) {
    EXPECT_EQ(Line(File("big", 5368709120)), "-rwx------   1 user     group 5368709120 Jan  5 09:07 big\r\n");
    EXPECT_EQ(Line(File("bigger", 12345678901)), "-rwx------   1 user     group 12345678901 Jan  5 09:07 bigger\r\n");
}

TEST(ListingLineTest, UnrepresentableTimeShowsTheEpoch) {
    ListingEntry future = File("f");
    future.modified = std::numeric_limits<std::time_t>::max();
    ListingEntry epoch = File("f");
    epoch.modified = 0;
    EXPECT_EQ(Line(future), Line(epoch));
}

TEST(ListingLineTest, DirectoriesAndHiddenEntries) {
    ListingEntry directory{"sub", true, 0, LocalTime(12, 24, 0, 0), false, {}};
    EXPECT_EQ(Line(directory), "drwx------   1 user     group          0 Dec 24 00:00 sub\r\n");
    for (const char* dots : {".", ".."}) {
        directory.name = dots;
        EXPECT_EQ(FormatListingLine(directory, false, false), std::nullopt);
    }
    directory.name = ".cache";
    directory.hidden = true;
    EXPECT_EQ(FormatListingLine(directory, true, false), std::nullopt);
    EXPECT_EQ(Line(directory), "drwx------   1 user     group          0 Dec 24 00:00 .cache\r\n");
    ListingEntry hiddenFile = File(".profile");
    hiddenFile.hidden = true;
    EXPECT_EQ(FormatListingLine(hiddenFile, true, false), std::nullopt);
}

TEST(ListingLineTest, ShellLinksShowTheirTitleAndTarget) {
    ListingEntry link = File("docs.lnk");
    link.linkTarget = "/data";
    EXPECT_EQ(Line(link), "lrwx------   1 user     group       1234 Jan  5 09:07 docs -> /data\r\n");
    EXPECT_EQ(Line(link, false, true), "\r\n");
    link.name = "DOCS.LNK";
    EXPECT_EQ(Line(link), "lrwx------   1 user     group       1234 Jan  5 09:07 DOCS -> /data\r\n");
    EXPECT_EQ(Line(File("a.b.lnk"), false, true), "-rwx------   1 user     group       1234 Jan  5 09:07 a.b.lnk\r\n");
    ListingEntry directory{"dir.lnk", true, 0, LocalTime(1, 5, 9, 7), false, {}};
    EXPECT_EQ(Line(directory, false, true), "drwx------   1 user     group          0 Jan  5 09:07 dir.lnk\r\n");
}

TEST(ListingLineTest, LinkNamesMatchFromTheFirstDot) {
    EXPECT_TRUE(IsShellLinkName("a.lnk"));
    EXPECT_TRUE(IsShellLinkName("A.LnK"));
    EXPECT_TRUE(IsShellLinkName(".lnk"));
    EXPECT_FALSE(IsShellLinkName("a.b.lnk"));
    EXPECT_FALSE(IsShellLinkName("lnk"));
    EXPECT_FALSE(IsShellLinkName("a.lnk2"));
    EXPECT_FALSE(IsShellLinkName("a.\xC4\xBEnk"));  // no case folding beyond ASCII
}

}  // namespace
}  // namespace tolvane::ftp
