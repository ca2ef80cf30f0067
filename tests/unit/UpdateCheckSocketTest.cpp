#include "clients/UpdateCheckSocket.h"
#include "net/SocketReactor.h"

#include "ScriptedPeer.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <thread>

using namespace tolvane;
using namespace tolvane::clients;
using tolvane::testing::PeerLink;
using tolvane::testing::ScriptedPeer;
using namespace std::chrono_literals;

namespace {

UpdateCheckState::Snapshot WaitForEnd(const UpdateCheckState& state, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!state.Done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    return state.Read();
}

// Reads the request, then sends `response` and closes.
ScriptedPeer::Script Answer(std::string response) {
    return [response](PeerLink& link) {
        link.ReadUntil("\r\n\r\n");
        link.Send(response);
    };
}

// Every check has ended (and closed its socket) when a test ends; its worker is joined.
class UpdateCheckSocketTest : public ::testing::Test {
protected:
    void TearDown() override { net::SocketReactor::Instance().JoinAll(); }
};

}  // namespace

TEST_F(UpdateCheckSocketTest, AResponseWithoutLengthIsParsedWhenTheServerCloses) {
    ScriptedPeer peer({Answer("HTTP/1.0 200 OK\r\n\r\n0.3\n16\n01/02/2001\nFixes\nMore\n")});
    auto state = std::make_shared<UpdateCheckState>();
    UpdateCheckSocket::Start(state, "127.0.0.1", peer.Port());
    const auto result = WaitForEnd(*state);
    EXPECT_EQ(result.status, "Done ...");
    EXPECT_EQ(result.latest.version, "0.3");
    EXPECT_EQ(result.latest.description, "Fixes\r\nMore\r\n");
    ASSERT_TRUE(peer.WaitDone());
    EXPECT_EQ(peer.Transcript(), "GET /version.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

TEST_F(UpdateCheckSocketTest, AResponseLongerThanItsLengthWaitsForTheClose) {
    ScriptedPeer peer({[](PeerLink& link) {
        link.ReadUntil("\r\n\r\n");
        link.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n0.3\nextra\n");
        std::this_thread::sleep_for(1500ms);
    }});
    auto state = std::make_shared<UpdateCheckState>();
    UpdateCheckSocket::Start(state, "127.0.0.1", peer.Port());
    std::this_thread::sleep_for(1000ms);
    EXPECT_FALSE(state->Done());
    const auto result = WaitForEnd(*state);
    EXPECT_EQ(result.fetched, "0.3\nextra\n");
}

TEST_F(UpdateCheckSocketTest, HostileServersEndTheCheckWithAFailure) {
    std::string huge;
    for (int line = 0; line < 100'000; ++line) huge += "line " + std::to_string(line) + "\n";
    struct Case {
        ScriptedPeer::Script script;
        std::string status;
    };
    const std::vector<Case> cases{
        {Answer("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(huge.size()) + "\r\n\r\n" + huge),
         "Version file too large ..."},
        {Answer(std::string(10 * 1024 * 1024, 'x')), "Version file too large ..."},
        {[](PeerLink& link) { link.WaitClosed(); }, "Failed to connect to host ..."},
    };
    for (const Case& test : cases) {
        ScriptedPeer peer({test.script});
        auto state = std::make_shared<UpdateCheckState>();
        UpdateCheckSocket::Start(state, "127.0.0.1", peer.Port(), 2s);
        const auto result = WaitForEnd(*state);
        EXPECT_EQ(result.status, test.status);
        EXPECT_EQ(result.fetched, "ERROR");
        EXPECT_EQ(result.latest.version, "");
    }
}
