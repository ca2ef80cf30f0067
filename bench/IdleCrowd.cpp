#include "IdleCrowd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAttempts = 3;
constexpr unsigned kSourceAddresses = 8;  // 127.0.0.2 to 127.0.0.9
constexpr std::size_t kMaxReply = 8192;

sockaddr_in Loopback(std::uint32_t host, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(host);
    return address;
}

enum class Reply { kIncomplete, kMalformed, kComplete };

// Takes one whole reply off the front of pending: "ddd text", or "ddd-" lines up to the one
// that starts "ddd ".
Reply TakeReply(std::string& pending, int& code) {
    const auto firstEnd = pending.find('\n');
    if (firstEnd == std::string::npos) return pending.size() > kMaxReply ? Reply::kMalformed : Reply::kIncomplete;
    if (firstEnd < 3) return Reply::kMalformed;
    code = std::atoi(pending.substr(0, 3).c_str());
    std::size_t end = firstEnd;
    if (firstEnd > 3 && pending[3] == '-') {
        std::string last = "\n";
        last.append(pending, 0, 3).push_back(' ');
        const auto lastStart = pending.find(last, firstEnd);
        if (lastStart == std::string::npos) return pending.size() > kMaxReply ? Reply::kMalformed : Reply::kIncomplete;
        end = pending.find('\n', lastStart + 1);
        if (end == std::string::npos) return Reply::kIncomplete;
    }
    pending.erase(0, end + 1);
    return code >= 100 ? Reply::kComplete : Reply::kMalformed;
}

bool SendLine(int fd, const std::string& line) {
    const std::string text = line + "\r\n";
    return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// Sessions with nothing to read and no end from the server.
int CountIdle(const std::vector<int>& fds) {
    std::vector<pollfd> polled;
    polled.reserve(fds.size());
    for (const int fd : fds) polled.push_back(pollfd{fd, POLLIN | POLLRDHUP, 0});
    if (::poll(polled.data(), polled.size(), 0) < 0) return 0;
    int idle = 0;
    for (const auto& entry : polled)
        if (entry.revents == 0) ++idle;
    return idle;
}

}  // namespace

struct IdleCrowd::Session {
    enum class Step { kGreeting, kUser, kPassword, kIn, kFailed };
    int fd = -1;
    Step step = Step::kGreeting;
    int attempts = 0;
    Clock::time_point started;
    std::string pending;
};

IdleCrowd::IdleCrowd(std::uint16_t port, std::string user, std::string password, int timeoutSeconds)
    : port_(port), user_(std::move(user)), password_(std::move(password)), timeoutSeconds_(timeoutSeconds),
      epoll_(::epoll_create1(EPOLL_CLOEXEC)) {}

IdleCrowd::~IdleCrowd() {
    CloseAll();
    if (epoll_ >= 0) ::close(epoll_);
}

void IdleCrowd::CloseAll() {
    for (const int fd : held_) ::close(fd);
    held_.clear();
    for (const Keeper& keeper : keepers_) ::close(keeper.pipe);
    for (const Keeper& keeper : keepers_) ::waitpid(keeper.pid, nullptr, 0);
    keepers_.clear();
    handedOff_ = 0;
}

bool IdleCrowd::HandOff() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    if (child == 0) {
        // The earlier keepers end when their pipes close: this one must not hold them open.
        for (const Keeper& keeper : keepers_) ::close(keeper.pipe);
        ::close(ends[0]);
        char asked;
        while (::read(ends[1], &asked, 1) == 1) {
            const int idle = CountIdle(held_);
            if (::write(ends[1], &idle, sizeof idle) != sizeof idle) break;
        }
        ::_exit(0);
    }
    ::close(ends[1]);
    keepers_.push_back({child, ends[0]});
    handedOff_ += HeldHere();
    for (const int fd : held_) ::close(fd);
    held_.clear();
    return true;
}

bool IdleCrowd::Start(Session& session) {
    session.pending.clear();
    session.step = Session::Step::kGreeting;
    session.started = Clock::now();
    session.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (session.fd < 0) return false;
    // The port is chosen at connect, for the whole address pair, not at bind.
    const int one = 1;
    setsockopt(session.fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    setsockopt(session.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in source = Loopback(0x7f000002 + opened_++ % kSourceAddresses, 0);
    const sockaddr_in server = Loopback(0x7f000001, port_);
    if (::bind(session.fd, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0 ||
        (::connect(session.fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0 && errno != EINPROGRESS))
        return false;
    return true;
}

bool IdleCrowd::Answer(Session& session, int code) {
    switch (session.step) {
    case Session::Step::kGreeting:
        session.step = Session::Step::kUser;
        return code == 220 && SendLine(session.fd, "USER " + user_);
    case Session::Step::kUser:
        if (code == 230) session.step = Session::Step::kIn;
        else session.step = Session::Step::kPassword;
        return code == 230 || (code == 331 && SendLine(session.fd, "PASS " + password_));
    case Session::Step::kPassword:
        session.step = Session::Step::kIn;
        return code == 230;
    default:
        return false;
    }
}

bool IdleCrowd::Advance(Session& session) {
    char chunk[2048];
    for (;;) {
        const ssize_t got = ::recv(session.fd, chunk, sizeof chunk, 0);
        if (got == 0) return false;
        if (got < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
            break;
        }
        session.pending.append(chunk, static_cast<std::size_t>(got));
    }
    int code = 0;
    for (;;) {
        const Reply reply = TakeReply(session.pending, code);
        if (reply == Reply::kIncomplete) return true;
        if (reply == Reply::kMalformed || !Answer(session, code)) return false;
        if (session.step == Session::Step::kIn) return session.pending.empty();
    }
}

int IdleCrowd::OpenBatch(int count) {
    std::vector<Session> batch(static_cast<std::size_t>(count));
    int waiting = 0, in = 0;
    // A session that failed ends here, or starts again while it has attempts left.
    auto retry = [&](Session& session) {
        if (session.fd >= 0) ::close(session.fd);  // also leaves the epoll set
        session.fd = -1;
        while (++session.attempts < kAttempts) {
            if (Start(session)) return true;
            if (session.fd >= 0) ::close(session.fd);
            session.fd = -1;
        }
        session.step = Session::Step::kFailed;
        --waiting;
        return false;
    };
    auto watch = [&](std::size_t index) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = index;
        return epoll_ctl(epoll_, EPOLL_CTL_ADD, batch[index].fd, &event) == 0;
    };
    for (std::size_t index = 0; index < batch.size(); ++index) {
        ++waiting;
        Session& session = batch[index];
        if (Start(session) || retry(session))
            if (!watch(index) && retry(session)) watch(index);
    }
    std::vector<epoll_event> events(256);
    const auto timeout = std::chrono::seconds(timeoutSeconds_);
    while (waiting > 0) {
        const int ready = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 100);
        for (int i = 0; i < ready; ++i) {
            const std::size_t index = events[static_cast<std::size_t>(i)].data.u64;
            Session& session = batch[index];
            if (session.fd < 0 || session.step == Session::Step::kIn) continue;
            if (!Advance(session)) {
                if (retry(session)) watch(index);
            } else if (session.step == Session::Step::kIn) {
                epoll_ctl(epoll_, EPOLL_CTL_DEL, session.fd, nullptr);
                held_.push_back(session.fd);
                ++in;
                --waiting;
            }
        }
        const auto now = Clock::now();
        for (std::size_t index = 0; index < batch.size(); ++index) {
            Session& session = batch[index];
            if (session.fd >= 0 && session.step != Session::Step::kIn && session.step != Session::Step::kFailed &&
                now - session.started > timeout && retry(session))
                watch(index);
        }
    }
    return in;
}

int IdleCrowd::StillIdle() const {
    int idle = CountIdle(held_);
    for (const Keeper& keeper : keepers_) {
        int kept = 0;
        if (::write(keeper.pipe, "?", 1) == 1 && ::read(keeper.pipe, &kept, sizeof kept) == sizeof kept) idle += kept;
    }
    return idle;
}

double GreetingMilliseconds(std::uint16_t port, int timeoutSeconds) {
    const auto started = Clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    timeval limit{timeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const sockaddr_in server = Loopback(0x7f000001, port);
    std::string pending;
    int code = 0;
    Reply reply = Reply::kIncomplete;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) == 0) {
        char chunk[2048];
        while (reply == Reply::kIncomplete) {
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0) break;
            pending.append(chunk, static_cast<std::size_t>(got));
            reply = TakeReply(pending, code);
        }
    }
    const double milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    ::close(fd);
    return reply == Reply::kComplete && code == 220 ? milliseconds : -1;
}

}  // namespace bench
