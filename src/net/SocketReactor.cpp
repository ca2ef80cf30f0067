#include "net/SocketReactor.h"

#include "net/EventSocket.h"
#include "net/WorkerThreads.h"

#include <algorithm>
#include <cerrno>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace tolvane::net {
namespace {

// A worker that has waited this long without an event leaves, unless it is the only one
// waiting. Waiters are woken last-come first (the kernel queues them exclusively at the head),
// so the workers a burst added are the ones left without events.
constexpr int kLingerMilliseconds = 5000;

void AddToSet(int epoll, int fd, std::uint32_t events) {
    epoll_event entry{};
    entry.events = events;
    entry.data.fd = fd;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &entry);
}

}  // namespace

SocketReactor& SocketReactor::Instance() {
    static SocketReactor instance;
    return instance;
}

SocketReactor::SocketReactor()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      timerFd_(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {
    AddToSet(epoll_, wakeFd_, EPOLLIN);
    AddToSet(epoll_, timerFd_, EPOLLIN | EPOLLONESHOT);
}

// Only a process that ends without JoinAll gets here with workers: they are asked to leave, and
// given a moment, so that none touches the reactor after it is gone.
SocketReactor::~SocketReactor() {
    StopLoops(std::chrono::milliseconds(500));
    ::close(timerFd_);
    ::close(wakeFd_);
    ::close(epoll_);
}

bool SocketReactor::Watch(const std::shared_ptr<EventSocket>& socket, int fd) {
    if (epoll_ < 0 || wakeFd_ < 0 || timerFd_ < 0 || fd < 0) return false;
    std::lock_guard lock(mutex_);
    if (loops_ == 0) StartLoop();
    sockets_[fd] = socket;
    return true;
}

void SocketReactor::Forget(int fd, const EventSocket* socket) {
    std::lock_guard lock(mutex_);
    const auto found = sockets_.find(fd);
    if (found == sockets_.end() || found->second.get() != socket) return;
    sockets_.erase(found);
    if (sockets_.empty()) changed_.notify_all();
}

std::uint64_t SocketReactor::Arm(int fd, short pollEvents, Registration& registration) {
    if (pollEvents != 0 && pollEvents != registration.armed) {
        // poll's and epoll's bits for these events are the same.
        epoll_event wanted{};
        wanted.events = static_cast<std::uint32_t>(static_cast<unsigned short>(pollEvents)) | EPOLLONESHOT;
        wanted.data.fd = fd;
        if (::epoll_ctl(epoll_, registration.added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &wanted) == 0) {
            registration = {true, pollEvents};
        }
    }
    std::lock_guard lock(ticksMutex_);
    const auto due = std::chrono::steady_clock::now() + kQuietPeriod;
    if (ticks_.empty()) SetTimer(due);
    ticks_.push_back({due, fd, ++lastStamp_});
    return lastStamp_;
}

void SocketReactor::Disarm(int fd) { ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr); }

std::size_t SocketReactor::Watched() const {
    std::lock_guard lock(mutex_);
    return sockets_.size();
}

void SocketReactor::JoinAll() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return sockets_.empty(); });
    }
    {
        std::lock_guard lock(ticksMutex_);
        ticks_.clear();
    }
    StopLoops(std::chrono::milliseconds::max());
    WorkerThreads::Instance().JoinAll();
}

void SocketReactor::StartLoop() {
    ++loops_;
    if (!WorkerThreads::Instance().Start([this] { RunLoop(); })) --loops_;
}

void SocketReactor::LeaveLoop() {
    --loops_;
    changed_.notify_all();
}

void SocketReactor::StopLoops(std::chrono::milliseconds patience) {
    std::unique_lock lock(mutex_);
    stopping_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    const auto gone = [this] { return loops_ == 0; };
    if (patience == std::chrono::milliseconds::max()) {
        changed_.wait(lock, gone);
    } else if (!changed_.wait_for(lock, patience, gone)) {
        return;
    }
    std::uint64_t drained = 0;
    [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &drained, sizeof drained);
    stopping_.store(false);
}

void SocketReactor::RunLoop() {
    pthread_setname_np(pthread_self(), "reactor");
    for (;;) {
        epoll_event event{};
        waiting_.fetch_add(1);
        const int count = ::epoll_wait(epoll_, &event, 1, kLingerMilliseconds);
        const int othersWaiting = waiting_.fetch_sub(1) - 1;
        if (count < 0 && errno == EINTR) continue;
        const bool leave = count == 0 ? othersWaiting > 0 : count < 0;
        if (stopping_.load() || leave) {
            std::lock_guard lock(mutex_);
            LeaveLoop();
            return;
        }
        if (count == 1 && othersWaiting == 0) {
            std::lock_guard lock(mutex_);
            StartLoop();
        }
        if (count == 1 && event.data.fd == timerFd_) {
            ServeDueTicks();
        } else if (count == 1) {
            ServeSocket(event.data.fd, static_cast<short>(event.events));
        }
    }
}

void SocketReactor::ServeSocket(int fd, short revents) {
    std::shared_ptr<EventSocket> socket;
    {
        std::lock_guard lock(mutex_);
        const auto found = sockets_.find(fd);
        if (found == sockets_.end()) return;
        socket = found->second;
    }
    socket->ServeHere(EventSocket::kReasonReady, revents);
}

// Run here one after another: one that blocks delays the ticks after it, never a socket's events,
// which find the socket free and are served by the other waiting workers.
void SocketReactor::ServeDueTicks() {
    std::uint64_t expirations = 0;
    [[maybe_unused]] const ssize_t read = ::read(timerFd_, &expirations, sizeof expirations);
    const DueTicks due = TakeDueTicks();
    epoll_event again{};
    again.events = EPOLLIN | EPOLLONESHOT;
    again.data.fd = timerFd_;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, timerFd_, &again);
    for (const auto& [socket, stamp] : due) socket->TickIfStillQuiet(stamp);
}

SocketReactor::DueTicks SocketReactor::TakeDueTicks() {
    std::vector<Tick> ripe;
    {
        std::lock_guard lock(ticksMutex_);
        const auto now = std::chrono::steady_clock::now();
        while (!ticks_.empty() && ticks_.front().due <= now) {
            ripe.push_back(ticks_.front());
            ticks_.pop_front();
        }
        if (!ticks_.empty()) SetTimer(std::max(ticks_.front().due, now + kTickGathering));
    }
    DueTicks due;
    std::lock_guard lock(mutex_);
    for (const Tick& tick : ripe) {
        const auto found = sockets_.find(tick.fd);
        if (found != sockets_.end() && found->second->QuietSince(tick.stamp)) due.emplace_back(found->second, tick.stamp);
    }
    return due;
}

void SocketReactor::SetTimer(std::chrono::steady_clock::time_point due) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(due - std::chrono::steady_clock::now());
    const auto nanoseconds = std::max<std::chrono::nanoseconds::rep>(left.count(), 1);
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(nanoseconds / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(nanoseconds % 1'000'000'000);
    ::timerfd_settime(timerFd_, 0, &when, nullptr);
}

}  // namespace tolvane::net
