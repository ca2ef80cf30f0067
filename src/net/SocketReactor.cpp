#include "net/SocketReactor.h"

#include "net/EventSocket.h"
#include "net/WorkerThreads.h"

#include <algorithm>
#include <cerrno>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tolvane::net {
namespace {

constexpr int kReadyBatch = 256;
// Quiet sockets ticked by one worker in a row: a crowd of idle sessions would otherwise cost a
// hand-over between threads per session and second.
constexpr std::size_t kTicksPerWorker = 64;

}  // namespace

SocketReactor& SocketReactor::Instance() {
    static SocketReactor instance;
    return instance;
}

SocketReactor::SocketReactor()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wakeFd_;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, wakeFd_, &wake);
}

SocketReactor::~SocketReactor() {
    StopLoop();
    ::close(wakeFd_);
    ::close(epoll_);
}

bool SocketReactor::Watch(const std::shared_ptr<EventSocket>& socket, int fd) {
    if (epoll_ < 0 || wakeFd_ < 0 || fd < 0) return false;
    std::lock_guard lock(mutex_);
    if (!loop_.joinable()) StartLoop();
    sockets_[fd] = socket;
    return true;
}

void SocketReactor::Forget(int fd, const EventSocket* socket) {
    std::lock_guard lock(mutex_);
    const auto found = sockets_.find(fd);
    if (found == sockets_.end() || found->second.get() != socket) return;
    sockets_.erase(found);
    if (sockets_.empty()) emptied_.notify_all();
}

std::uint64_t SocketReactor::Arm(int fd, short pollEvents, bool& added) {
    if (pollEvents != 0) {
        // poll's and epoll's bits for these events are the same.
        epoll_event wanted{};
        wanted.events = static_cast<std::uint32_t>(static_cast<unsigned short>(pollEvents)) | EPOLLONESHOT;
        wanted.data.fd = fd;
        if (::epoll_ctl(epoll_, added ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &wanted) == 0) added = true;
    }
    std::lock_guard lock(mutex_);
    ticks_.push_back({std::chrono::steady_clock::now() + kQuietPeriod, fd, ++lastStamp_});
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
        emptied_.wait(lock, [this] { return sockets_.empty(); });
        ticks_.clear();
    }
    StopLoop();
    WorkerThreads::Instance().JoinAll();
}

void SocketReactor::StartLoop() {
    stopping_ = false;
    loop_ = std::thread([this] { Run(); });
}

void SocketReactor::StopLoop() {
    {
        std::lock_guard lock(mutex_);
        if (!loop_.joinable()) return;
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    loop_.join();
    std::uint64_t drained = 0;
    [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &drained, sizeof drained);
    std::lock_guard lock(mutex_);
    loop_ = std::thread();
}

void SocketReactor::Run() {
    pthread_setname_np(pthread_self(), "reactor");
    epoll_event ready[kReadyBatch];
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        const int count = ::epoll_wait(epoll_, ready, kReadyBatch, MillisecondsToNextTick());
        if (count < 0 && errno != EINTR) return;
        ServeReady(ready, std::max(count, 0));
        ServeDueTicks();
    }
}

int SocketReactor::MillisecondsToNextTick() {
    std::lock_guard lock(mutex_);
    if (ticks_.empty()) return static_cast<int>(kQuietPeriod.count());
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(ticks_.front().due - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, kQuietPeriod.count()));
}

void SocketReactor::ServeReady(const epoll_event* ready, int count) {
    std::vector<std::shared_ptr<EventSocket>> woken;
    {
        std::lock_guard lock(mutex_);
        for (int i = 0; i < count; ++i) {
            const auto found = sockets_.find(ready[i].data.fd);
            if (found != sockets_.end()) woken.push_back(found->second);
        }
    }
    for (const auto& socket : woken) socket->Trigger(EventSocket::kReasonReady);
}

void SocketReactor::ServeDueTicks() {
    std::vector<std::pair<std::shared_ptr<EventSocket>, std::uint64_t>> due;
    {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        while (!ticks_.empty() && ticks_.front().due <= now) {
            const Tick tick = ticks_.front();
            ticks_.pop_front();
            const auto found = sockets_.find(tick.fd);
            if (found != sockets_.end() && found->second->QuietSince(tick.stamp))
                due.emplace_back(found->second, tick.stamp);
        }
    }
    for (std::size_t first = 0; first < due.size(); first += kTicksPerWorker) {
        const auto from = due.begin() + static_cast<std::ptrdiff_t>(first);
        const auto to = due.begin() + static_cast<std::ptrdiff_t>(std::min(first + kTicksPerWorker, due.size()));
        std::vector<std::pair<std::shared_ptr<EventSocket>, std::uint64_t>> group(from, to);
        auto tickGroup = [group = std::move(group)] {
            for (const auto& [socket, stamp] : group) socket->TickIfStillQuiet(stamp);
        };
        // Without a thread to spare, the ticks wait for the next quiet period.
        WorkerThreads::Instance().Start(std::move(tickGroup));
    }
}

}  // namespace tolvane::net
