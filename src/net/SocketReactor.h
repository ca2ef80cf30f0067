#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <sys/epoll.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tolvane::net {

class EventSocket;

// Every socket in event mode waits in one epoll set while none of the events it asked for is
// ready. Pooled workers take turns waiting on the set; the one an event wakes runs the socket's
// handlers itself (see EventSocket), so a session holds a thread only while it has work and an
// event costs one wake-up. Before it serves an event, a worker that leaves nobody waiting starts
// another: a handler that blocks never holds up the other sockets. Sockets that have been quiet
// for a second get an idle tick.
class SocketReactor {
public:
    static constexpr std::chrono::milliseconds kQuietPeriod{1000};
    // Ticks fall due at a steady trickle; they are gathered for this long so that a busy server
    // is not woken for every one of them.
    static constexpr std::chrono::milliseconds kTickGathering{100};

    static SocketReactor& Instance();
    ~SocketReactor();
    SocketReactor(const SocketReactor&) = delete;
    SocketReactor& operator=(const SocketReactor&) = delete;

    // The reactor holds the socket from here until it is forgotten, so that its events can
    // reach it; the first socket starts the waiting.
    bool Watch(const std::shared_ptr<EventSocket>& socket, int fd);
    void Forget(int fd, const EventSocket* socket);
    // The socket's registration in the epoll set: whether it is in, and what it waits for
    // there (nothing once its event has come).
    struct Registration {
        bool added = false;
        short armed = 0;
    };
    // Waits for `pollEvents` (poll's bits; none: only for a wake-up) or a quiet period, after
    // which the socket earns a tick if its quiet stamp is still the one returned. A socket that
    // waits for these events already is left as it is: a quiet tick costs no system call.
    std::uint64_t Arm(int fd, short pollEvents, Registration& registration);
    void Disarm(int fd);
    std::size_t Watched() const;
    // Waits until every watched socket has ended, ends the waiting and joins every worker.
    void JoinAll();

private:
    struct Tick {
        std::chrono::steady_clock::time_point due;
        int fd;
        std::uint64_t stamp;
    };
    using DueTicks = std::vector<std::pair<std::shared_ptr<EventSocket>, std::uint64_t>>;

    SocketReactor();
    // Under the mutex.
    void StartLoop();
    void LeaveLoop();
    void StopLoops(std::chrono::milliseconds patience);
    void RunLoop();
    void ServeSocket(int fd, short revents);
    void ServeDueTicks();
    DueTicks TakeDueTicks();
    // Under the ticks' mutex.
    void SetTimer(std::chrono::steady_clock::time_point due);

    const int epoll_;
    const int wakeFd_;   // readable while the waiting must end
    const int timerFd_;  // readable when the earliest quiet period is over
    std::atomic<int> waiting_{0};  // workers in epoll_wait
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::unordered_map<int, std::shared_ptr<EventSocket>> sockets_;
    int loops_ = 0;  // workers taking turns at the epoll set
    std::mutex ticksMutex_;
    std::deque<Tick> ticks_;  // in order of `due`: every quiet period has the same length
    std::uint64_t lastStamp_ = 0;
};

}  // namespace tolvane::net
