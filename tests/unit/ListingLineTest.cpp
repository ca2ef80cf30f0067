#include "ftp/ListingLine.h"

#include <gtest/gtest.h>

#include <limits>

namespace tolvane::ftp {
namespace {

std::time_t LocalTime(int year, int month, int day, int hour, int minute) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

// The listing is made on 2024-07-01 noon: January 5th is recent, 2023 is not.
const std::time_t kNow = LocalTime(2024, 7, 1, 12, 0);

ListingEntry File(std::string name, std::int64_t size = 1234) {
    return {std::move(name), false, size, LocalTime(2024, 1, 5, 9, 7), false, {}, 0644};
}

std::string Line(const ListingEntry& entry, bool hideHidden = false, bool showRelativePath = false) {
    return FormatListingLine(entry, hideHidden, showRelativePath, kNow).value_or("<no line>");
}

TEST(ListingLineTest, FileLineHasTheLayoutOfLsL) {
    EXPECT_EQ(Line(File("name")), "-rw-r--r--   1 user     group       1234 Jan  5 09:07 name\r\n");
    EXPECT_EQ(Line(File("empty file", 0)), "-rw-r--r--   1 user     group          0 Jan  5 09:07 empty file\r\n");
    ListingEntry may = File("m");
    may.modified = LocalTime(2024, 5, 31, 14, 30);
    EXPECT_EQ(Line(may), "-rw-r--r--   1 user     group       1234 May 31 14:30 m\r\n");
}

TEST(ListingLineTest, PermissionTextComesFromTheModeBits) {
    ListingEntry entry = File("f");
    for (const auto& [mode, text] : std::initializer_list<std::pair<std::uint32_t, std::string>>{
             {0, "----------"},
             {0700, "-rwx------"},
             {0751, "-rwxr-x--x"},
             {04755, "-rwsr-xr-x"},
             {04644, "-rwSr--r--"},
             {02710, "-rwx--s---"},
             {01777, "-rwxrwxrwt"},
             {01776, "-rwxrwxrwT"}}) {
        entry.mode = mode;
        EXPECT_EQ(Line(entry).substr(0, 10), text) << std::oct << mode;
    }
}

TEST(ListingLineTest, OldAndFutureEntriesShowTheYear) {
    ListingEntry entry = File("f");
    const auto date = [&entry](std::time_t when) {
        entry.modified = when;
        return Line(entry).substr(40, 14);
    };
    EXPECT_EQ(date(LocalTime(2023, 12, 24, 23, 59)), " Dec 24  2023 ");
    EXPECT_EQ(date(LocalTime(2020, 5, 1, 8, 0)), " May  1  2020 ");
    EXPECT_EQ(date(LocalTime(2024, 1, 3, 12, 0)), " Jan  3 12:00 ");  // just inside six months
    EXPECT_EQ(date(kNow), " Jul  1 12:00 ");
    EXPECT_EQ(date(kNow + 60), " Jul  1  2024 ");
    EXPECT_EQ(date(LocalTime(2031, 2, 3, 4, 5)), " Feb  3  2031 ");
}

TEST(ListingLineTest, SizesBeyond32BitsAreShownWhole) {
    EXPECT_EQ(Line(File("big", 5368709120)), "-rw-r--r--   1 user     group 5368709120 Jan  5 09:07 big\r\n");
    EXPECT_EQ(Line(File("bigger", 12345678901)), "-rw-r--r--   1 user     group 12345678901 Jan  5 09:07 bigger\r\n");
}

TEST(ListingLineTest, UnrepresentableTimeShowsTheEpoch) {
    ListingEntry future = File("f");
    future.modified = std::numeric_limits<std::time_t>::max();
    ListingEntry epoch = File("f");
    epoch.modified = 0;
    EXPECT_EQ(Line(future), Line(epoch));
}

TEST(ListingLineTest, DirectoriesHiddenEntriesAndNamesThatWouldForgeLines) {
    ListingEntry directory{"sub", true, 0, LocalTime(2023, 12, 24, 0, 0), false, {}, 0755};
    EXPECT_EQ(Line(directory), "drwxr-xr-x   1 user     group          0 Dec 24  2023 sub\r\n");
    for (const char* dots : {".", ".."}) {
        directory.name = dots;
        EXPECT_EQ(FormatListingLine(directory, false, false, kNow), std::nullopt);
        EXPECT_EQ(FormatNameLine(directory, false, false, ""), std::nullopt);
    }
    directory.name = ".cache";
    directory.hidden = true;
    EXPECT_EQ(FormatListingLine(directory, true, false, kNow), std::nullopt);
    EXPECT_EQ(FormatNameLine(directory, true, false, ""), std::nullopt);
    EXPECT_EQ(Line(directory), "drwxr-xr-x   1 user     group          0 Dec 24  2023 .cache\r\n");
    ListingEntry hiddenFile = File(".profile");
    hiddenFile.hidden = true;
    EXPECT_EQ(FormatListingLine(hiddenFile, true, false, kNow), std::nullopt);
    for (const char* forged : {"a\r\n-rwx------   1 user     group 1 Jan  1 00:00 fake", "a\nb", "a\rb"}) {
        EXPECT_EQ(FormatListingLine(File(forged), false, false, kNow), std::nullopt);
        EXPECT_EQ(FormatNameLine(File(forged), false, false, ""), std::nullopt);
    }
}

TEST(ListingLineTest, NameLinesCarryTheFolderPartAsGiven) {
    EXPECT_EQ(FormatNameLine(File("a b.txt"), false, false, ""), "a b.txt\r\n");
    EXPECT_EQ(FormatNameLine(File("\xE6\x97\xA5.txt"), false, false, "sub/d\xC3\xA9/"), "sub/d\xC3\xA9/\xE6\x97\xA5.txt\r\n");
    EXPECT_EQ(FormatNameLine(File("docs.lnk"), false, false, ""), "docs.lnk\r\n");
    EXPECT_EQ(FormatNameLine(File("docs.lnk"), false, true, ""), std::nullopt);
}

TEST(ListingLineTest, ShellLinksShowTheirTitleAndTarget) {
    ListingEntry link = File("docs.lnk");
    link.mode = 0777;
    link.linkTarget = "/data";
    EXPECT_EQ(Line(link), "lrwxrwxrwx   1 user     group       1234 Jan  5 09:07 docs -> /data\r\n");
    EXPECT_EQ(Line(link, false, true), "\r\n");
    link.name = "DOCS.LNK";
    EXPECT_EQ(Line(link), "lrwxrwxrwx   1 user     group       1234 Jan  5 09:07 DOCS -> /data\r\n");
    EXPECT_EQ(Line(File("a.b.lnk"), false, true), "-rw-r--r--   1 user     group       1234 Jan  5 09:07 a.b.lnk\r\n");
    ListingEntry directory{"dir.lnk", true, 0, LocalTime(2024, 1, 5, 9, 7), false, {}, 0700};
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
