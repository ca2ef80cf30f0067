#include "net/EventSocket.h"
#include "net/ListenSocket.h"
#include "net/SocketReactor.h"
#include "net/WorkerThreads.h"
#include "TestClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace tolvane::net {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::TestClient;

// Records the handlers the worker calls, in order.
class RecordingSocket : public EventSocket {
public:
    std::vector<std::string> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int Count(const std::string& name) const {
        const auto calls = Calls();
        return static_cast<int>(std::count(calls.begin(), calls.end(), name));
    }
    bool Ended() const { return ended_.load(); }

    std::atomic<bool> closeOnPeerClose{true};
    std::atomic<bool> readOnReceive{true};
    std::string Received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

protected:
    void OnIdleTick() override { Record("idle"); }
    void OnConnect() override { Record("connect"); }
    void OnAccept() override { Record("accept"); }
    void OnClose() override {
        Record("close");
        if (closeOnPeerClose) Close();
    }
    void OnSend() override { Record("send"); }
    void OnReceive() override {
        Record("receive");
        if (!readOnReceive) return;
        char buffer[64];
        const IoResult result = Receive(buffer, sizeof buffer);
        std::lock_guard lock(mutex_);
        if (result.Moved()) received_.append(buffer, result.bytes);
    }
    void OnWorkerExit() override { ended_.store(true); }

private:
    void Record(const std::string& name) {
        std::lock_guard lock(mutex_);
        calls_.push_back(name);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::string received_;
    std::atomic<bool> ended_{false};
};

// A blocking listener in plain mode: the test decides when a pending client is accepted.
struct PlainListener {
    PlainListener() {
        EXPECT_TRUE(socket.Create(0, true));
        EXPECT_TRUE(socket.Listen(SOMAXCONN));
    }
    std::uint16_t Port() const { return socket.LocalPort(); }
    EventSocket socket;
};

class EventSocketTest : public ::testing::Test {
protected:
    void TearDown() override { SocketReactor::Instance().JoinAll(); }
};

std::size_t OpenDescriptors() {
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

TEST_F(EventSocketTest, HandlersOfOneWakeUpRunInTheFixedOrderAndWriteIsAnnouncedOnce) {
    PlainListener listener;
    TestClient client(listener.Port());
    ASSERT_TRUE(client.Send("hello"));
    ::shutdown(client.Fd(), SHUT_WR);
    std::this_thread::sleep_for(50ms);

    auto accepted = std::make_shared<RecordingSocket>();
    accepted->closeOnPeerClose = false;
    ASSERT_TRUE(listener.socket.Accept(accepted));
    // The handler records "receive" before it reads, so wait for the bytes themselves.
    ASSERT_TRUE(Eventually([&] { return accepted->Received() == "hello"; }));
    const auto calls = accepted->Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ((std::vector<std::string>{calls[0], calls[1], calls[2]}),
              (std::vector<std::string>{"close", "send", "receive"}));

    // The half-closed peer reports nothing more: the object gets quiet waits, not a spin.
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(accepted->Count("close"), 1);
    EXPECT_EQ(accepted->Count("send"), 1);
    EXPECT_LE(accepted->Count("receive"), 2);
    EXPECT_GE(accepted->Count("idle"), 1);
    accepted->Close();
    EXPECT_TRUE(Eventually([&] { return accepted->Ended(); }));
}

TEST_F(EventSocketTest, WriteEventReturnsOnlyAfterASendWouldHaveBlocked) {
    PlainListener listener;
    TestClient client(listener.Port());
    auto accepted = std::make_shared<RecordingSocket>();
    ASSERT_TRUE(listener.socket.Accept(accepted));
    ASSERT_TRUE(Eventually([&] { return accepted->Count("send") == 1; }));

    ASSERT_TRUE(client.Send("one"));
    ASSERT_TRUE(Eventually([&] { return accepted->Received() == "one"; }));
    EXPECT_EQ(accepted->Count("send"), 1);

    const std::string block(64 * 1024, 'x');
    std::size_t queued = 0;
    for (IoResult sent; (sent = accepted->Send(block.data(), block.size())).Moved();) queued += sent.bytes;
    EXPECT_EQ(accepted->Count("send"), 1);
    client.ReadBytes(queued, 10s);
    EXPECT_TRUE(Eventually([&] { return accepted->Count("send") == 2; }));
    accepted->Close();
}

TEST_F(EventSocketTest, QuietSocketGetsIdleTicksAndCloseFromAnotherThreadEndsItAtOnce) {
    PlainListener listener;
    TestClient client(listener.Port());
    auto accepted = std::make_shared<RecordingSocket>();
    ASSERT_TRUE(listener.socket.Accept(accepted));
    std::weak_ptr<RecordingSocket> watch = accepted;
    std::this_thread::sleep_for(2300ms);
    EXPECT_GE(accepted->Count("idle"), 2);
    EXPECT_LE(accepted->Count("idle"), 3);

    const auto start = std::chrono::steady_clock::now();
    accepted->Close();
    accepted.reset();
    ASSERT_TRUE(Eventually([&] { return watch.expired(); }, 500ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_TRUE(client.WaitClosed(1s));
}

// An unconnected socket is not in the reactor's epoll set (it would report a hang-up on every
// pass), so only the wake-up makes a worker see a listen or a close before its quiet second
// ends with an idle tick.
TEST_F(EventSocketTest, EachSocketHoldsOneDescriptorAndWakesReachAWorkerWaitingWithoutIt) {
    SocketReactor::Instance();  // its own descriptors are opened once for the process
    const std::size_t before = OpenDescriptors();
    std::vector<std::shared_ptr<RecordingSocket>> sockets;
    for (int i = 0; i < 20; ++i) {
        sockets.push_back(std::make_shared<RecordingSocket>());
        ASSERT_TRUE(sockets.back()->CreateAt(*Endpoint::Parse("127.0.0.1")));
    }
    EXPECT_EQ(OpenDescriptors(), before + sockets.size());

    const auto listener = sockets.back();
    sockets.pop_back();
    for (const auto& socket : sockets) socket->Close();
    for (const auto& socket : sockets) {
        ASSERT_TRUE(Eventually([&] { return socket->Ended(); }));
        EXPECT_EQ(socket->Calls(), std::vector<std::string>{});
    }

    ASSERT_TRUE(listener->Listen(SOMAXCONN));
    {
        TestClient client(listener->LocalPort());
        ASSERT_TRUE(Eventually([&] { return listener->Count("accept") > 0; }));
    }
    EXPECT_EQ(listener->Calls().front(), "accept");
    listener->Close();
    ASSERT_TRUE(Eventually([&] { return listener->Ended(); }));
    sockets.clear();
    EXPECT_EQ(OpenDescriptors(), before + 1);  // the listener, still held here
}

TEST_F(EventSocketTest, EveryWorkerIsJoinedWhenAllSocketsAreClosed) {
    PlainListener listener;
    const std::size_t before = SocketReactor::Instance().Watched();
    std::vector<std::unique_ptr<TestClient>> clients;
    std::vector<std::weak_ptr<RecordingSocket>> sockets;
    for (int i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<TestClient>(listener.Port()));
        auto accepted = std::make_shared<RecordingSocket>();
        ASSERT_TRUE(listener.socket.Accept(accepted));
        sockets.push_back(accepted);
    }
    EXPECT_EQ(SocketReactor::Instance().Watched(), before + 20);
    for (auto& weak : sockets)
        if (auto socket = weak.lock()) socket->Close();
    SocketReactor::Instance().JoinAll();
    EXPECT_EQ(SocketReactor::Instance().Watched(), 0u);
    EXPECT_EQ(WorkerThreads::Instance().Running(), 0u);
    for (auto& weak : sockets) EXPECT_TRUE(weak.expired());
}

TEST_F(EventSocketTest, AcceptRefusesAClientThatAlreadyHasASocket) {
    PlainListener listener;
    auto busy = std::make_shared<RecordingSocket>();
    ASSERT_TRUE(busy->Create(0, true));
    TestClient client(listener.Port());
    EXPECT_FALSE(listener.socket.Accept(busy));
    // The pending connection was left for the next accept.
    auto fresh = std::make_shared<RecordingSocket>();
    EXPECT_TRUE(listener.socket.Accept(fresh));
    fresh->Close();
}

TEST_F(EventSocketTest, ConnectInEventModeReportsConnectThenWrite) {
    PlainListener listener;
    auto connecting = std::make_shared<RecordingSocket>();
    ASSERT_TRUE(connecting->Create(0));
    ASSERT_TRUE(connecting->Connect("127.0.0.1", listener.Port()));
    ASSERT_TRUE(Eventually([&] { return connecting->Count("send") == 1; }));
    const auto calls = connecting->Calls();
    const auto first = std::find_if(calls.begin(), calls.end(), [](const auto& c) { return c != "idle"; });
    ASSERT_NE(first, calls.end());
    EXPECT_EQ(*first, "connect");
    connecting->Close();
}

// The worker is kept busy while each connect starts: one that looked at the socket before the
// connect was under way took the refused connection for a made one.
TEST_F(EventSocketTest, FailedConnectEndsTheWorkerWithoutConnectEvent) {
    std::uint16_t closedPort = 0;
    {
        PlainListener gone;
        closedPort = gone.Port();
    }
    for (int attempt = 0; attempt < 500; ++attempt) {
        auto connecting = std::make_shared<RecordingSocket>();
        // Not from 127.0.0.1: a socket that drew the closed port as its own would connect to itself.
        ASSERT_TRUE(connecting->CreateAt(*Endpoint::Parse("127.0.0.2")));
        std::atomic<bool> connectDone{false};
        std::thread waker([&] {
            while (!connectDone.load()) connecting->SetEventMask(kAllEvents);
        });
        const bool started = connecting->Connect("127.0.0.1", closedPort);
        connectDone.store(true);
        waker.join();
        if (!started) connecting->Close();
        ASSERT_TRUE(Eventually([&] { return connecting->Ended(); }));
        ASSERT_EQ(connecting->Count("connect"), 0) << "attempt " << attempt;
    }
}

TEST_F(EventSocketTest, PlainModeStartsNoWorkerAndWorksBlocking) {
    PlainListener listener;
    const std::size_t before = SocketReactor::Instance().Watched();
    EventSocket plain;
    ASSERT_TRUE(plain.Create(0, true));
    EXPECT_EQ(SocketReactor::Instance().Watched(), before);
    ASSERT_TRUE(plain.Connect("127.0.0.1", listener.Port()));
    auto accepted = std::make_shared<RecordingSocket>();
    ASSERT_TRUE(listener.socket.Accept(accepted));
    ASSERT_EQ(plain.Send("ping", 4).bytes, 4u);
    ASSERT_TRUE(Eventually([&] { return accepted->Received() == "ping"; }));

    const auto peer = plain.PeerName();
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->Address(), "127.0.0.1");
    EXPECT_EQ(peer->Port(), listener.Port());
    accepted->Close();
    char byte = 0;
    EXPECT_EQ(plain.Receive(&byte, 1).status, IoStatus::Ended);  // blocks until the peer's close
    plain.Close();
    EXPECT_FALSE(plain.IsOpen());
    EXPECT_FALSE(plain.PeerName());
}

TEST_F(EventSocketTest, UnresolvableHostFailsToConnect) {
    EventSocket plain;
    ASSERT_TRUE(plain.Create(0, true));
    EXPECT_FALSE(plain.Connect("no-such-host.invalid", 21));
}

TEST(ListenSocketTest, NumbersConnectionsFromOneAndNeverReusesANumber) {
    std::mutex mutex;
    std::vector<int> numbers;
    auto listener = std::make_shared<ListenSocket>([&](int number) {
        std::lock_guard lock(mutex);
        numbers.push_back(number);
        auto socket = std::make_shared<RecordingSocket>();
        return socket;
    });
    ASSERT_TRUE(listener->CreateAt(*Endpoint::Parse("127.0.0.1")));
    ASSERT_TRUE(listener->Listen(SOMAXCONN));
    for (int i = 0; i < 3; ++i) {
        TestClient client(listener->LocalPort());
        ASSERT_TRUE(client.Connected());
        ASSERT_TRUE(Eventually([&] { return listener->ConnectionCounter() == i + 1; }));
    }
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
    }
    listener->Close();
    SocketReactor::Instance().JoinAll();
}

}  // namespace
}  // namespace tolvane::net
