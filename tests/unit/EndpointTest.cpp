#include "net/Endpoint.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

using tolvane::net::Endpoint;

TEST(EndpointTest, ParsesAndWritesBothFamiliesAndNothingElse) {
    const auto v4 = Endpoint::Parse("192.168.1.20", 2121);
    ASSERT_TRUE(v4);
    EXPECT_EQ(v4->Family(), AF_INET);
    EXPECT_EQ(v4->Address(), "192.168.1.20");
    EXPECT_EQ(v4->Port(), 2121);
    EXPECT_EQ(v4->WithPort(21).Port(), 21);
    EXPECT_TRUE(v4->SameAddress(v4->WithPort(21)));

    const auto v6 = Endpoint::Parse("2001:DB8:0:0::5", 990);
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->Family(), AF_INET6);
    EXPECT_EQ(v6->Address(), "2001:db8::5");
    EXPECT_EQ(v6->Port(), 990);
    EXPECT_FALSE(v6->SameAddress(*v4));

    // A stored address is never looked up, and the short forms inet_aton allows are no addresses.
    for (const char* text : {"", "localhost", "127.1", "1.2.3.4.5", "256.1.1.1", "[::1]", "1.2.3.4 ", "::1%eth0x"})
        EXPECT_FALSE(Endpoint::Parse(text)) << text;
    EXPECT_FALSE(Endpoint().Valid());
    EXPECT_EQ(Endpoint().Address(), "");
}

TEST(EndpointTest, ResolvesNumericTextWithoutTheResolver) {
    const auto resolved = Endpoint::Resolve("127.0.0.1", 25);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->Address(), "127.0.0.1");
    EXPECT_EQ(resolved->Port(), 25);
    EXPECT_FALSE(Endpoint::Resolve("no-such-host.invalid", 25));
}

TEST(EndpointTest, IPv4PeerOfADualStackSocketComesBackAsIPv4) {
    sockaddr_in6 mapped{};
    mapped.sin6_family = AF_INET6;
    mapped.sin6_port = htons(4000);
    inet_pton(AF_INET6, "::ffff:192.0.2.9", &mapped.sin6_addr);
    const auto endpoint = Endpoint::FromSockaddr(reinterpret_cast<const sockaddr*>(&mapped), sizeof mapped);
    ASSERT_TRUE(endpoint);
    EXPECT_EQ(endpoint->Family(), AF_INET);
    EXPECT_EQ(endpoint->Address(), "192.0.2.9");
    EXPECT_EQ(endpoint->Port(), 4000);
    EXPECT_EQ(Endpoint::AnyOf(AF_INET6, 21).AddressAndPort(), "[::]:21");
    EXPECT_EQ(endpoint->AddressAndPort(), "192.0.2.9:4000");
}
