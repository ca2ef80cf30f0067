#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/epoll.h>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tolvane::net {

class EventSocket;

// Every socket in event mode waits here, in one epoll loop, while none of the events it asked
// for is ready. When one is, or the socket is woken, or it has been quiet for a second, a pooled
// worker runs the socket's handlers (see EventSocket). A session thus holds a thread only while
// it has work: thousands of idle sessions cost their sockets and objects, not thousands of stacks.
class SocketReactor {
public:
    static constexpr std::chrono::milliseconds kQuietPeriod{1000};

    static SocketReactor& Instance();
    ~SocketReactor();
    SocketReactor(const SocketReactor&) = delete;
    SocketReactor& operator=(const SocketReactor&) = delete;

    // The reactor holds the socket from here until it is forgotten, so that its events can
    // reach it; the loop starts with the first socket.
    bool Watch(const std::shared_ptr<EventSocket>& socket, int fd);
    void Forget(int fd, const EventSocket* socket);
    // Waits for `pollEvents` (poll's bits; none: only for a wake-up) or a quiet period, after
    // which the socket earns a tick if its quiet stamp is still the one returned. `added` says
    // whether the descriptor is already in the epoll set, and is set once it is.
    std::uint64_t Arm(int fd, short pollEvents, bool& added);
    void Disarm(int fd);
    std::size_t Watched() const;
    // Waits until every watched socket has ended, ends the loop and joins every worker.
    void JoinAll();

private:
    struct Tick {
        std::chrono::steady_clock::time_point due;
        int fd;
        std::uint64_t stamp;
    };

    SocketReactor();
    void StartLoop();
    void StopLoop();
    void Run();
    int MillisecondsToNextTick();
    void ServeReady(const ::epoll_event* ready, int count);
    void ServeDueTicks();

    const int epoll_;
    const int wakeFd_;  // ends the loop's wait when it must stop
    mutable std::mutex mutex_;
    std::condition_variable emptied_;
    std::unordered_map<int, std::shared_ptr<EventSocket>> sockets_;
    std::deque<Tick> ticks_;  // in order of `due`: every quiet period has the same length
    std::uint64_t lastStamp_ = 0;
    bool stopping_ = false;
    std::thread loop_;
};

}  // namespace tolvane::net
