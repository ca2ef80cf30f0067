#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>

#include "net/Endpoint.h"
#include "net/TlsContext.h"
#include "net/Transport.h"

namespace tolvane::net {

// Network events a worker selects and reports, in the bit values of the Windows socket API that
// the rest of the system was written against.
enum SocketEvent : int {
    kEventRead = 1,
    kEventWrite = 2,
    kEventOutOfBand = 4,
    kEventAccept = 8,
    kEventConnect = 16,
    kEventClose = 32,
    kAllEvents = 63,
};

// One TCP endpoint. In event mode the socket waits in the SocketReactor for the events its
// handlers asked for, and a pooled worker runs the handlers once one is ready (or the socket
// has been quiet for a second: OnIdleTick); the reactor owns the object through a shared_ptr
// meanwhile, so objects in event mode must be made with std::make_shared. Handlers of one socket
// never run at the same time, and may block: a blocked one holds only its own worker. In plain
// mode the socket is blocking and used directly by its owner. Either way the object holds one
// descriptor, its socket. The bytes themselves go through the socket's Transport, plain TCP
// unless another is set.
class EventSocket : public std::enable_shared_from_this<EventSocket> {
public:
    EventSocket();
    virtual ~EventSocket();
    EventSocket(const EventSocket&) = delete;
    EventSocket& operator=(const EventSocket&) = delete;

    // Binds a new socket to all local IPv4 addresses; starts the worker unless noWorker is set.
    bool Create(std::uint16_t port, bool noWorker = false);
    // Binds to the given address and port and starts the worker.
    bool CreateAt(const Endpoint& local);
    // Before CreateAt: whether an IPv6 socket bound to "::" takes IPv4 clients too (it does not
    // unless told, so that it can share its port with an IPv4 listener).
    void SetIpv6Only(bool only) { ipv6Only_.store(only); }
    bool Listen(int backlog);
    // Accepts a pending connection into client (which must not have a socket) and starts the
    // client's worker.
    bool Accept(const std::shared_ptr<EventSocket>& client, Endpoint* peer = nullptr);
    // The two halves of Accept, for a listener that looks at the peer before it picks the
    // client: the accepted descriptor (-1 on failure), then its hand-over to the client, which
    // starts the client's worker. A descriptor that is not handed over must be closed.
    int AcceptPending(Endpoint& peer);
    bool Adopt(const std::shared_ptr<EventSocket>& client, int acceptedFd);
    // Connects to a numeric address or a host name. In event mode the result arrives as a
    // connect event; a failed connect ends the worker without one.
    bool Connect(const std::string& host, std::uint16_t port);
    bool Connect(const Endpoint& remote);
    // Ends the object: callable from any thread; its worker notices at once.
    virtual void Close();
    // The bytes, through the transport. A send that would block asks for the write event that
    // follows; `more` lets the transport hold the bytes back for the ones that follow at once.
    IoResult Send(const void* data, std::size_t length, bool more = false);
    IoResult Receive(void* buffer, std::size_t length);
    IoResult SendFile(int fileFd, off_t* offset, std::size_t count);
    // Replaces the plain transport, before the worker starts or on the worker itself.
    void SetTransport(std::unique_ptr<Transport> transport);
    // TLS from now on, this end the server. A control connection's handshake runs in its next
    // sends and receives; a data connection's runs first, on the worker's events, and the
    // handlers hear of the connection's bytes only after OnSecured has let it through. The
    // caller keeps other threads from sending meanwhile.
    void StartTls(std::shared_ptr<const TlsContext> context, bool dataConnection);
    bool Secure() const { return secure_.load(); }
    bool ResumedTlsSession() const { return transport_->ResumedSession(); }
    // Received bytes the transport holds that the socket's readiness would not announce.
    bool HasBufferedInput() const { return transport_->HasBufferedInput(); }
    std::optional<Endpoint> LocalName() const;
    std::optional<Endpoint> PeerName() const;
    void SetEventMask(int mask);

    // Waits until a send would not block; false on time-out or when the object is closed.
    bool WaitWritable(std::chrono::milliseconds timeout);
    // Waits until a receive would not block (data or the peer's close); false on time-out or
    // when the object is closed.
    bool WaitReadable(std::chrono::milliseconds timeout);
    // Plain mode: bounds each blocking connect, send and receive, so that a peer that never
    // answers cannot hold the caller for ever.
    bool SetPlainTimeout(std::chrono::milliseconds timeout);
    // Sends then take no more once this many bytes wait unsent in the kernel, and the write
    // event waits until fewer do.
    void LimitUnsentBytes(int bytes);
    // Sleeps, but wakes as soon as the object is closed; false when it was.
    bool PauseFor(std::chrono::milliseconds duration);

    bool IsOpen() const;
    int IdleTicks() const { return idleTicks_.load(); }
    int LastError() const { return lastError_.load(); }
    std::uint16_t LocalPort() const { return localPort_.load(); }
    int EventMask() const { return eventMask_.load(); }
    bool OnWorkerThread() const;

protected:
    // Handlers, run one at a time on a worker, in the order accept, connect, close, write,
    // read for one wake-up. The base versions do nothing.
    virtual void OnIdleTick() {}
    virtual void OnConnect() {}
    virtual void OnReceive() {}
    virtual void OnAccept() {}
    virtual void OnClose() {}
    virtual void OnSend() {}
    // End-of-life work, run on a worker once the socket has stopped all traffic.
    virtual void OnWorkerExit() {}
    // A data connection's handshake has completed, or has failed (the peer spoke no TLS or was
    // refused). The base versions let it through, and close it.
    virtual void OnSecured() {}
    virtual void OnSecureFailure() { Close(); }

    std::atomic<int> idleTicks_{0};

private:
    friend class SocketReactor;
    enum class State { Unconnected, Listening, Connecting, Connected };
    // Why a worker should look at the socket again.
    static constexpr int kReasonReady = 1;  // an event it waits for came
    static constexpr int kReasonWoken = 2;  // another thread changed what it waits for
    static constexpr int kReasonQuiet = 4;  // a quiet period has passed

    bool OpenAndBind(const Endpoint& local, bool blocking);
    std::optional<Endpoint> QueryLocalName() const;
    bool RefreshLocalAddress();
    void NoteBlocked(const IoResult& result, bool sending);
    // Runs the handshake of a data connection on; true once the handlers may have the events.
    bool AdvanceHandshake();
    // The socket's poll events once any of `events` (or an error) is reported; 0 on time-out
    // or when the object is closed.
    short PollFor(short events, std::chrono::milliseconds timeout);
    bool StartWorker();
    // Has a worker look at the socket, unless one is at it already (it then looks again).
    void Trigger(int reasons);
    // On a worker that ticks several sockets in a row: the tick, here, unless the socket has
    // stirred since the stamp or a worker is at it. Another socket's tick that blocks delays
    // this one's, never its events: those find the socket free and take a worker of their own.
    void TickIfStillQuiet(std::uint64_t stamp);
    void SubmitPasses();
    void RunPasses();
    enum class PassResult { Again, Waiting, Ended };
    // One look: delivers what is ready (look again), or hands the socket to the reactor to wait.
    PassResult Pass(int reasons);
    bool QuietSince(std::uint64_t stamp) const { return quietStamp_.load() == stamp; }
    void End(int error);
    int ReadyEvents(short wanted, int mask);
    void DeliverEvents(int events);
    short RequestedPollEvents(int mask) const;
    int TranslatePollEvents(short revents, int mask);
    bool CompleteConnect();
    void Wake();
    // Stops all traffic; the descriptor itself stays open as long as the object.
    void ShutDown();
    void FailOpen(int error);

    std::atomic<int> fd_{-1};
    std::unique_ptr<Transport> transport_;
    std::atomic<bool> secure_{false};
    std::atomic<bool> handshakeFirst_{false};  // a data connection's handshake is not done
    // A worker is at the socket or on its way; set until the socket is handed to the reactor.
    std::atomic<bool> scheduled_{true};
    std::atomic<int> reasons_{0};            // what the worker has still to look at
    std::atomic<std::uint64_t> quietStamp_{0};  // the reactor's stamp of the present wait
    bool inReactor_ = false;                 // the descriptor is in the reactor's epoll set
    std::atomic<bool> closeRequested_{false};
    std::atomic<bool> hasWorker_{false};
    std::atomic<std::thread::id> workerId_{};
    std::atomic<int> eventMask_{kAllEvents};
    std::atomic<int> lastError_{0};
    std::atomic<std::uint16_t> localPort_{0};
    Endpoint fixedLocalName_;                  // set before the worker starts
    std::atomic<bool> localNameFixed_{false};  // fixedLocalName_ answers LocalName
    std::atomic<bool> shutDown_{false};
    std::atomic<bool> ipv6Only_{true};
    std::atomic<State> state_{State::Unconnected};
    // Emulation of the one-shot event reporting the handlers were written for.
    std::atomic<bool> writeWanted_{false};   // a send would have blocked
    std::atomic<bool> readArmed_{true};      // a receive has been made since the last read event
    std::atomic<bool> sendWaitsForRead_{false};     // a secure send needs the peer's bytes first
    std::atomic<bool> receiveWaitsForWrite_{false}; // a secure receive must write first
    bool writeAnnounced_ = false;            // the first write event after connecting
    bool closeReported_ = false;
    bool silenced_ = false;                  // peer gone: only wake-ups and quiet waits remain
};

}  // namespace tolvane::net
