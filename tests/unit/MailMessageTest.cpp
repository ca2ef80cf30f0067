#include "clients/MailMessage.h"

#include <gtest/gtest.h>

using namespace tolvane::clients;

TEST(MailMessageTest, BodyLinesStartingWithADotGetOneMore) {
    EXPECT_EQ(TransparentBody("a\r\n.\r\nb"), "a\r\n..\r\nb\r\n");
    EXPECT_EQ(TransparentBody(".x"), "..x\r\n");
    EXPECT_EQ(TransparentBody("."), "..\r\n");
    EXPECT_EQ(TransparentBody("a.b\r\n"), "a.b\r\n");
    EXPECT_EQ(TransparentBody(""), "\r\n");
    // A lone LF or CR must not let a "." line end the data early on a lenient server.
    EXPECT_EQ(TransparentBody("a\n.\nb\r.\r\n"), "a\r\n..\r\nb\r\n..\r\n");
}

TEST(MailMessageTest, RecipientsAreAddressesOrNamedAddresses) {
    MailMessage message;
    EXPECT_TRUE(message.AddRecipients("Ann <first>;second"));
    EXPECT_EQ(RecipientsText(message.recipients), "Ann <first>,<second>");
    ASSERT_EQ(message.recipients.size(), 2u);
    EXPECT_EQ(message.recipients[0].address, "first");
    EXPECT_EQ(message.recipients[0].name, "Ann ");

    MailMessage open;
    EXPECT_TRUE(open.AddRecipients("Bo<bo@x"));
    EXPECT_EQ(RecipientsText(open.recipients), "Bo<bo@x>");
}

TEST(MailMessageTest, AClosingBracketBeforeTheOpeningOneStopsTheList) {
    MailMessage message;
    EXPECT_FALSE(message.AddRecipients("a@x;b> <c@x>;d@x"));
    ASSERT_EQ(message.recipients.size(), 1u);
    EXPECT_EQ(message.recipients[0].address, "a@x");
}
