#include "net/ProxyHeader.h"

#include <gtest/gtest.h>

#include <string>

using tolvane::net::ParseProxyHeader;
using tolvane::net::ProxyHeader;
using Status = ProxyHeader::Status;

namespace {

const std::string kSignature{"\r\n\r\n\0\r\nQUIT\n", 12};

std::string BinaryTcp4(char command) {
    std::string header = kSignature + std::string{static_cast<char>(0x20 | command), 0x11, 0, 12};
    header += std::string{10, 1, 2, 3, 127, 0, 0, 2};  // source, destination
    header += std::string{static_cast<char>(0xC3), 0x50, 0, 21};
    return header;
}

}  // namespace

TEST(ProxyHeaderTest, TextFormNamesTheClientAndWaitsForItsLineEnd) {
    const std::string line = "PROXY TCP6 2001:db8::7 ::1 50000 2121\r\n";
    const ProxyHeader header = ParseProxyHeader(line + "USER u\r\n");
    ASSERT_EQ(header.status, Status::Complete);
    EXPECT_EQ(header.length, line.size());
    ASSERT_TRUE(header.client);
    EXPECT_EQ(header.client->Address(), "2001:db8::7");
    EXPECT_EQ(header.client->Port(), 50000);
    EXPECT_EQ(ParseProxyHeader("PROXY TCP4 10.0.0.1 10.0.0.2 5").status, Status::Incomplete);
    EXPECT_EQ(ParseProxyHeader("PRO").status, Status::Incomplete);
    const ProxyHeader unknown = ParseProxyHeader("PROXY UNKNOWN\r\n");
    EXPECT_EQ(unknown.status, Status::Complete);
    EXPECT_FALSE(unknown.client);
    for (const char* bad : {"PROXY TCP4 ::1 ::1 1 2\r\n", "PROXY TCP4 10.0.0.1 10.0.0.2 70000 21\r\n",
                            "PROXY TCP5 10.0.0.1 10.0.0.2 1 21\r\n", "PROXY TCP4 10.0.0.1 10.0.0.2 1\r\n", "USER u\r\n"})
        EXPECT_EQ(ParseProxyHeader(bad).status, Status::Invalid) << bad;
    EXPECT_EQ(ParseProxyHeader("PROXY TCP4 " + std::string(120, '1')).status, Status::Invalid);
}

TEST(ProxyHeaderTest, BinaryFormNamesTheClientOrNobodyForLocal) {
    const std::string proxied = BinaryTcp4(1);
    for (std::size_t cut = 1; cut < proxied.size(); ++cut)
        EXPECT_EQ(ParseProxyHeader(proxied.substr(0, cut)).status, Status::Incomplete) << cut;
    const ProxyHeader header = ParseProxyHeader(proxied + "USER");
    ASSERT_EQ(header.status, Status::Complete);
    EXPECT_EQ(header.length, proxied.size());
    ASSERT_TRUE(header.client);
    EXPECT_EQ(header.client->Address(), "10.1.2.3");
    EXPECT_EQ(header.client->Port(), 50000);
    const ProxyHeader local = ParseProxyHeader(BinaryTcp4(0));
    EXPECT_EQ(local.status, Status::Complete);
    EXPECT_FALSE(local.client);
    std::string version1 = proxied;
    version1[12] = 0x11;
    EXPECT_EQ(ParseProxyHeader(version1).status, Status::Invalid);
    EXPECT_TRUE(tolvane::net::OpensProxyHeader(proxied));
    EXPECT_FALSE(tolvane::net::OpensProxyHeader("PROX"));
}
