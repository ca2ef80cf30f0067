#include "control/AdminPassword.h"
#include "control/AdminWire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane::control {
namespace {

// File names and log texts may hold any byte: what goes out as fields comes back the same.
TEST(AdminWire, FieldsRecordsAndFramesComeBackAsTheyWent) {
    const std::vector<std::string> fields{"a\tb", "line\r\nnext", "back\\slash\\t", "", "caf\xc3\xa9"};
    EXPECT_EQ(SplitFields(JoinFields(fields)), fields);
    EXPECT_EQ(JoinFields(fields).find('\n'), std::string::npos);

    monitor::LogRecord record;
    record.sequence = 42;
    record.stamp = "Thu,10Dec2026-02:24:45";
    record.text = " -[3]- 550 Permission denied.\r\n";
    record.kind = monitor::ErrorMessage;
    record.underline = true;
    record.bold = false;
    record.highlightOffset = 29;
    const auto back = DecodeRecord(EncodeRecord(record));
    ASSERT_TRUE(back);
    EXPECT_EQ(std::tie(back->sequence, back->stamp, back->text, back->kind, back->underline, back->bold,
                       back->highlightOffset, back->raw),
              std::tie(record.sequence, record.stamp, record.text, record.kind, record.underline, record.bold,
                       record.highlightOffset, record.raw));
    EXPECT_FALSE(DecodeRecord("1\tstamp\ttext"));

    const std::string frame = Frame(kRowsFrame, "body\n");
    EXPECT_EQ(frame, "rows 5\nbody\n");
    const auto header = ParseFrameHeader(frame.substr(0, frame.find('\n') + 1), 100);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->kind, "rows");
    EXPECT_EQ(header->length, 5u);
    // A peer announcing more than the limit is not believed.
    for (const std::string line : {"rows 101\n", "rows\n", " 5\n", "rows -1\n", "rows 5", "rows 5x\n"})
        EXPECT_FALSE(ParseFrameHeader(line, 100)) << line;

    EXPECT_EQ(BytesOfHex(HexOf(std::string("pass word\0\xff", 11))), std::string("pass word\0\xff", 11));
    EXPECT_FALSE(BytesOfHex("abc"));
    EXPECT_FALSE(BytesOfHex("zz"));
}

TEST(AdminPassword, OnlyTheHashIsStoredAndOnlyThePasswordMatchesIt) {
    const std::string stored = HashAdminPassword("s3cret pass");
    EXPECT_TRUE(stored.starts_with("pbkdf2-sha256$"));
    EXPECT_EQ(stored.find("s3cret"), std::string::npos);
    EXPECT_NE(HashAdminPassword("s3cret pass"), stored);  // a fresh salt each time
    EXPECT_TRUE(AdminPasswordMatches(stored, "s3cret pass"));
    EXPECT_FALSE(AdminPasswordMatches(stored, "s3cret pas"));
    EXPECT_FALSE(AdminPasswordMatches(stored, ""));
    // Hand-edited or damaged values never match, and a huge work factor is not run.
    EXPECT_FALSE(AdminPasswordMatches("s3cret pass", "s3cret pass"));
    EXPECT_FALSE(AdminPasswordMatches("", ""));
    std::string tampered = stored;
    tampered.replace(tampered.find('$') + 1, 6, "999999999");
    EXPECT_FALSE(AdminPasswordMatches(tampered, "s3cret pass"));
}

}  // namespace
}  // namespace tolvane::control
