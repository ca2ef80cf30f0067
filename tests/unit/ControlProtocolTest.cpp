#include "control/ControlProtocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane::control {
namespace {

TEST(ControlProtocol, RequestsAreShortPrintableWordsAndAnythingElseIsRefused) {
    const auto request = ParseRequest("speed 12 64k --json\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->words, (std::vector<std::string>{"speed", "12", "64k"}));
    EXPECT_TRUE(request->json);
    EXPECT_EQ(ParseRequest(RequestLine({"kick", "3"}))->words, (std::vector<std::string>{"kick", "3"}));

    for (const std::string& line : std::vector<std::string>{"", "\n", "status", " status\n", "status \n", "kick  3\n", "kick\t3\n",
                                   "status\r\n", std::string("sta\0tus\n", 8), "st\xe9tus\n", "--json\n",
                                   "a b c d e f g h i\n", std::string(kMaxRequestBytes, 'a') + "\n"})
        EXPECT_FALSE(ParseRequest(line)) << line;
    EXPECT_TRUE(ParseRequest("a b c d e f g h\n"));
    EXPECT_TRUE(ParseRequest(std::string(kMaxRequestBytes - 1, 'a') + "\n"));
}

TEST(ControlProtocol, JsonStringsEscapeQuotesControlsAndEveryNonAsciiByte) {
    EXPECT_EQ(JsonString("plain/dir name"), "\"plain/dir name\"");
    EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonString(std::string("\r\n\0\x7f", 4)), "\"\\u000d\\u000a\\u0000\\u007f\"");
    EXPECT_EQ(JsonString("caf\xc3\xa9"), "\"caf\\u00c3\\u00a9\"");
}

}  // namespace
}  // namespace tolvane::control
