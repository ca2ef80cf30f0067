#include "net/EventSocket.h"

#include "net/PlainTransport.h"
#include "net/TlsTransport.h"
#include "net/SocketReactor.h"
#include "net/WorkerThreads.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tolvane::net {
namespace {

bool SetBlocking(int fd, bool blocking) {
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return fcntl(fd, F_SETFL, flags) == 0;
}

// What getsockname or getpeername report for a descriptor.
template <typename Query>
std::optional<Endpoint> NameOf(int fd, Query query) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd < 0 || query(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return std::nullopt;
    return Endpoint::FromSockaddr(reinterpret_cast<const sockaddr*>(&address), length);
}

}  // namespace

EventSocket::EventSocket() : transport_(std::make_unique<PlainTransport>(fd_)) {}

EventSocket::~EventSocket() {
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

bool EventSocket::Create(std::uint16_t port, bool noWorker) {
    if (!OpenAndBind(Endpoint::AnyIPv4(port), noWorker)) return false;
    if (noWorker) return true;
    eventMask_.store(kAllEvents);
    return StartWorker();
}

bool EventSocket::CreateAt(const Endpoint& local) {
    if (!OpenAndBind(local, false)) return false;
    eventMask_.store(kAllEvents);
    return StartWorker();
}

bool EventSocket::OpenAndBind(const Endpoint& local, bool blocking) {
    const int previous = fd_.exchange(-1);
    if (previous >= 0) ::close(previous);
    closeRequested_.store(false);
    shutDown_.store(false);
    localNameFixed_.store(false);
    if (!local.Valid()) {
        lastError_.store(EAFNOSUPPORT);
        return false;
    }
    const int fd = ::socket(local.Family(), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return false;
    fd_.store(fd);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const int v6Only = ipv6Only_.load() ? 1 : 0;
    if (local.Family() == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
    if (!SetBlocking(fd, blocking) || ::bind(fd, local.Raw(), local.RawLength()) != 0 || !RefreshLocalAddress()) {
        FailOpen(errno);
        return false;
    }
    state_.store(State::Unconnected);
    return true;
}

void EventSocket::FailOpen(int error) {
    lastError_.store(error);
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

std::optional<Endpoint> EventSocket::QueryLocalName() const { return NameOf(fd_.load(), ::getsockname); }

bool EventSocket::RefreshLocalAddress() {
    const auto local = QueryLocalName();
    if (!local) return false;
    localPort_.store(local->Port());
    return true;
}

bool EventSocket::StartWorker() {
    hasWorker_.store(true);
    scheduled_.store(true);
    reasons_.store(0);
    if (!SocketReactor::Instance().Watch(shared_from_this(), fd_.load())) {
        hasWorker_.store(false);
        Close();
        return false;
    }
    SubmitPasses();
    return true;
}

bool EventSocket::Listen(int backlog) {
    const int fd = fd_.load();
    if (fd < 0 || closeRequested_.load()) return false;
    if (::listen(fd, backlog) != 0) return false;
    state_.store(State::Listening);
    eventMask_.store(kEventAccept);
    Wake();
    return true;
}

bool EventSocket::Accept(const std::shared_ptr<EventSocket>& client, Endpoint* peer) {
    if (client->fd_.load() >= 0) return false;
    Endpoint address;
    const int accepted = AcceptPending(address);
    if (peer != nullptr) *peer = address;
    return accepted >= 0 && Adopt(client, accepted);
}

int EventSocket::AcceptPending(Endpoint& peer) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int accepted =
        ::accept4(fd_.load(), reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (accepted < 0) {
        const int acceptError = errno;
        // A listener that can no longer name itself is broken for good, not just out of luck.
        if (!RefreshLocalAddress()) {
            lastError_.store(errno);
            Close();
            return -1;
        }
        lastError_.store(acceptError);
        return -1;
    }
    peer = Endpoint::FromSockaddr(reinterpret_cast<const sockaddr*>(&address), length).value_or(Endpoint{});
    // Clients send ABOR with its last byte marked urgent; it must stay in the command stream.
    const int one = 1;
    setsockopt(accepted, SOL_SOCKET, SO_OOBINLINE, &one, sizeof one);
    // A reply is written as soon as it is known and the client answers none of them at once, so
    // with Nagle's algorithm a reply that follows another (226 after 150, the lines of a
    // greeting) waits for the client's delayed acknowledgement: 40 ms per transfer.
    setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return accepted;
}

bool EventSocket::Adopt(const std::shared_ptr<EventSocket>& client, int acceptedFd) {
    if (client->fd_.load() >= 0) {
        ::close(acceptedFd);
        return false;
    }
    client->fd_.store(acceptedFd);
    client->closeRequested_.store(false);
    client->shutDown_.store(false);
    client->state_.store(State::Connected);
    // An accepted connection keeps its local address, and logins and PASV ask for it.
    if (const auto local = client->QueryLocalName()) {
        client->fixedLocalName_ = *local;
        client->localPort_.store(local->Port());
        client->localNameFixed_.store(true);
    }
    return client->StartWorker();
}

bool EventSocket::Connect(const std::string& host, std::uint16_t port) {
    const auto remote = Endpoint::Resolve(host, port);
    if (!remote) {
        errno = EINVAL;
        return false;
    }
    return Connect(*remote);
}

bool EventSocket::Connect(const Endpoint& remote) {
    const int fd = fd_.load();
    if (fd < 0) return false;
    if (!remote.Valid()) {
        errno = EAFNOSUPPORT;
        return false;
    }
    const bool eventMode = hasWorker_.load();
    // Connecting only once the connect is under way: a worker that polled the socket before it
    // would see a fresh socket's writable hang-up, with no error yet, and report a connection.
    if (::connect(fd, remote.Raw(), remote.RawLength()) == 0) {
        state_.store(State::Connected);
    } else if (eventMode && errno == EINPROGRESS) {
        state_.store(State::Connecting);
    } else {
        return false;
    }
    Wake();
    return true;
}

void EventSocket::Close() {
    if (secure_.load() && !closeRequested_.load()) transport_->Finish();
    closeRequested_.store(true);
    if (hasWorker_.load()) {
        // The descriptor lives as long as the object, so it is never reused under a running
        // poll or a late send; shutting it down now stops all traffic at once, and the hang-up
        // ends every wait for the socket, on any thread.
        ShutDown();
        // The worker looks at the request before every wait, and may wait without its socket.
        if (!OnWorkerThread()) Wake();
        return;
    }
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

IoResult EventSocket::Send(const void* data, std::size_t length, bool more) {
    const IoResult result = transport_->Send(data, length, more);
    NoteBlocked(result, true);
    return result;
}

IoResult EventSocket::SendFile(int fileFd, off_t* offset, std::size_t count) {
    const IoResult result = transport_->SendFile(fileFd, offset, count);
    NoteBlocked(result, true);
    return result;
}

IoResult EventSocket::Receive(void* buffer, std::size_t length) {
    readArmed_.store(true);
    const IoResult result = transport_->Receive(buffer, length);
    NoteBlocked(result, false);
    return result;
}

void EventSocket::SetTransport(std::unique_ptr<Transport> transport) { transport_ = std::move(transport); }

void EventSocket::StartTls(std::shared_ptr<const TlsContext> context, bool dataConnection) {
    transport_ = std::make_unique<TlsTransport>(std::move(context), fd_, dataConnection);
    handshakeFirst_.store(dataConnection);
    secure_.store(true);
}

// After the handshake the handlers get the event that finished it, and both directions are
// asked for again: the bytes that follow may already wait, and a sender needs its first write
// event.
bool EventSocket::AdvanceHandshake() {
    const IoResult result = transport_->Handshake();
    if (result.WouldBlock()) {
        if (result.waitFor == Readiness::Readable) {
            readArmed_.store(true);
        } else {
            writeWanted_.store(true);
        }
        return false;
    }
    if (!result.Moved()) {
        lastError_.store(result.error);
        OnSecureFailure();
        return false;
    }
    handshakeFirst_.store(false);
    OnSecured();
    readArmed_.store(true);
    writeWanted_.store(true);
    return IsOpen();
}

// A transport that must write before it can go on asks the worker for the next write event,
// which it may be waiting without; a receive that would block is answered by the next read
// event anyway. A secure transport may also need the other direction first (its handshake):
// the handler that was stopped then runs on the event it waited for.
void EventSocket::NoteBlocked(const IoResult& result, bool sending) {
    if (!result.WouldBlock()) return;
    if (result.waitFor == Readiness::Readable) {
        if (!sending) return;
        sendWaitsForRead_.store(true);
        readArmed_.store(true);
        if (!OnWorkerThread()) Wake();
        return;
    }
    if (!sending) receiveWaitsForWrite_.store(true);
    if (writeWanted_.exchange(true)) return;
    if (!OnWorkerThread()) Wake();
}

void EventSocket::ShutDown() {
    const int fd = fd_.load();
    // Tried again while it fails: a connect may still complete after a first, failed try.
    if (fd >= 0 && !shutDown_.load() && ::shutdown(fd, SHUT_RDWR) == 0) shutDown_.store(true);
}

std::optional<Endpoint> EventSocket::LocalName() const {
    if (localNameFixed_.load() && fd_.load() >= 0) return fixedLocalName_;
    return QueryLocalName();
}

std::optional<Endpoint> EventSocket::PeerName() const { return NameOf(fd_.load(), ::getpeername); }

void EventSocket::SetEventMask(int mask) {
    eventMask_.store(mask);
    if (!OnWorkerThread()) Wake();
}

short EventSocket::PollFor(short events, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closeRequested_.load() && fd_.load() >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return 0;
        pollfd watched{fd_.load(), events, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return 0;
        if (watched.revents != 0) return closeRequested_.load() ? 0 : watched.revents;
    }
    return 0;
}

bool EventSocket::WaitWritable(std::chrono::milliseconds timeout) {
    const short revents = PollFor(POLLOUT, timeout);
    return (revents & POLLOUT) && !(revents & (POLLERR | POLLHUP | POLLNVAL));
}

bool EventSocket::WaitReadable(std::chrono::milliseconds timeout) {
    const short revents = PollFor(POLLIN, timeout);
    return (revents & (POLLIN | POLLHUP | POLLERR)) && !(revents & POLLNVAL);
}

bool EventSocket::SetPlainTimeout(std::chrono::milliseconds timeout) {
    const int fd = fd_.load();
    if (fd < 0) return false;
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0;
}

void EventSocket::LimitUnsentBytes(int bytes) {
    setsockopt(fd_.load(), IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, sizeof bytes);
}

bool EventSocket::PauseFor(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (!closeRequested_.load()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        // Nothing asked for: only the hang-up of a close (or of a broken connection, which needs
        // no more pacing) ends the pause early.
        pollfd watched{fd_.load(), 0, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
        if ((ready < 0 && errno != EINTR) || watched.revents != 0) return !closeRequested_.load();
    }
    return false;
}

bool EventSocket::IsOpen() const { return fd_.load() >= 0 && !closeRequested_.load(); }

bool EventSocket::OnWorkerThread() const { return workerId_.load() == std::this_thread::get_id(); }

void EventSocket::Wake() { Trigger(kReasonWoken); }

// Whoever sets scheduled_ first sends a worker; a worker that is at the socket already sees the
// reasons before it lets go of it.
void EventSocket::Trigger(int reasons) {
    reasons_.fetch_or(reasons);
    if (!scheduled_.exchange(true)) SubmitPasses();
}

void EventSocket::TickIfStillQuiet(std::uint64_t stamp) {
    if (!QuietSince(stamp)) return;
    reasons_.fetch_or(kReasonQuiet);
    if (!scheduled_.exchange(true)) RunPasses();
}

void EventSocket::SubmitPasses() {
    auto self = shared_from_this();
    // Without a thread to spare the look is taken here: a socket left unlooked at would never end.
    if (!WorkerThreads::Instance().Start([self] { self->RunPasses(); })) RunPasses();
}

void EventSocket::RunPasses() {
    workerId_.store(std::this_thread::get_id());
    for (;;) {
        const PassResult result = Pass(reasons_.exchange(0));
        if (result == PassResult::Again) continue;
        if (result == PassResult::Ended) return;
        workerId_.store({});
        scheduled_.store(false);
        // Reasons that came after the look and before the release were left to this worker.
        if (reasons_.load() == 0 || scheduled_.exchange(true)) return;
        workerId_.store(std::this_thread::get_id());
    }
}

EventSocket::PassResult EventSocket::Pass(int reasons) {
    quietStamp_.store(0);
    if (closeRequested_.load() || fd_.load() < 0) {
        End(0);
        return PassResult::Ended;
    }
    const int mask = eventMask_.load();
    const short wanted = silenced_ ? 0 : RequestedPollEvents(mask);
    const int events = ReadyEvents(wanted, mask);
    if (events < 0) {
        End(errno);
        return PassResult::Ended;
    }
    if (events > 0) {
        idleTicks_.store(0);
        DeliverEvents(events);
        return PassResult::Again;
    }
    if (reasons & kReasonQuiet) {
        OnIdleTick();
        return PassResult::Again;
    }
    quietStamp_.store(SocketReactor::Instance().Arm(fd_.load(), wanted, inReactor_));
    return PassResult::Waiting;
}

// The descriptor is closed with the object, not here: other threads that still hold the object
// (a late reply, a kick) must never write to a number the next accept reuses.
void EventSocket::End(int error) {
    if (error != 0) lastError_.store(error);
    closeRequested_.store(true);
    ShutDown();
    auto& reactor = SocketReactor::Instance();
    const int fd = fd_.load();
    if (inReactor_) reactor.Disarm(fd);
    OnWorkerExit();
    workerId_.store({});
    reactor.Forget(fd, this);
}

void EventSocket::DeliverEvents(int events) {
    if (events & kEventAccept) OnAccept();
    if (events & kEventConnect) OnConnect();
    // A peer that closes during the handshake fails it: its close is no end of the transfer.
    const bool bytesEvent = events & (kEventWrite | kEventRead | kEventClose);
    if (bytesEvent && handshakeFirst_.load() && !AdvanceHandshake()) return;
    if (events & kEventClose) OnClose();
    if (events & kEventWrite) {
        OnSend();
        if (receiveWaitsForWrite_.exchange(false)) OnReceive();
    }
    if (events & kEventRead) {
        if (sendWaitsForRead_.exchange(false)) OnSend();
        OnReceive();
    }
}

short EventSocket::RequestedPollEvents(int mask) const {
    switch (state_.load()) {
    case State::Unconnected:
        return 0;
    case State::Listening:
        return (mask & kEventAccept) ? POLLIN : 0;
    case State::Connecting:
        return POLLOUT;
    case State::Connected:
        break;
    }
    short wanted = 0;
    if ((mask & kEventRead) && readArmed_.load()) wanted |= POLLIN;
    if ((mask & kEventClose) && !closeReported_) wanted |= POLLRDHUP;
    if ((mask & kEventWrite) && (!writeAnnounced_ || writeWanted_.load())) wanted |= POLLOUT;
    return wanted;
}

// What is ready now, without waiting: the reactor's report may be stale by the time a worker
// gets to the socket.
int EventSocket::ReadyEvents(short wanted, int mask) {
    if (wanted == 0) return 0;
    pollfd watched{fd_.load(), wanted, 0};
    const int ready = ::poll(&watched, 1, 0);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    if (watched.revents & POLLNVAL) return -1;
    return TranslatePollEvents(watched.revents, mask);
}

int EventSocket::TranslatePollEvents(short revents, int mask) {
    switch (state_.load()) {
    case State::Unconnected:
        return 0;
    case State::Listening:
        return (revents & POLLIN) ? kEventAccept : 0;
    case State::Connecting:
        return CompleteConnect() ? (kEventConnect | kEventWrite) & mask : -1;
    case State::Connected:
        break;
    }
    int events = 0;
    const bool hangUp = revents & (POLLHUP | POLLERR);
    const bool peerGone = hangUp || (revents & POLLRDHUP);
    if (peerGone && !closeReported_ && (mask & kEventClose)) {
        closeReported_ = true;
        events |= kEventClose;
    } else if (hangUp) {
        silenced_ = true;  // poll reports a hang-up on every pass; nothing more will come
    }
    if ((revents & POLLIN) && readArmed_.load()) {
        // At the end of the stream the socket stays readable with nothing to read.
        int pending = 1;
        if (peerGone || closeReported_) ioctl(fd_.load(), FIONREAD, &pending);
        if (pending > 0) events |= kEventRead;
        readArmed_.store(false);
    }
    if ((revents & POLLOUT) && (!writeAnnounced_ || writeWanted_.load())) {
        writeAnnounced_ = true;
        writeWanted_.store(false);
        events |= kEventWrite;
    }
    return events;
}

bool EventSocket::CompleteConnect() {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd_.load(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        errno = error;
        return false;
    }
    state_.store(State::Connected);
    writeAnnounced_ = true;
    return true;
}

}  // namespace tolvane::net
