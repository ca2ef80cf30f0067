#include "ftp/ControlConnection.h"

#include "ftp/VerbMatch.h"
#include "monitor/RecordStamp.h"
#include "store/ProfileReadScope.h"
#include "Version.h"

#include <algorithm>
#include <chrono>

namespace tolvane::ftp {
namespace {

// How long a reply may wait for a client that does not read before the session gives up.
constexpr std::chrono::seconds kReplyWriteTimeout{20};
constexpr std::size_t kReceiveBlock = 1024;
// How long a transfer of an account without a time-out may wait for its data connection or
// move nothing.
constexpr int kDefaultDataTimeout = 60;

std::size_t LineContentLength(const std::string& line) {
    const bool crlf = line.size() >= 2 && line[line.size() - 2] == '\r';
    return line.size() - (crlf ? 2 : 1);
}

}  // namespace

ControlConnection::ControlConnection(std::shared_ptr<ServerShared> server, std::shared_ptr<ServedIpHome> ipHome,
                                     int connectionNumber, bool serverOffline)
    : server_(std::move(server)),
      ipHome_(std::move(ipHome)),
      connectionNumber_(connectionNumber),
      serverOffline_(serverOffline) {}

net::ListenSocket::ConnectionFactory ControlConnection::FactoryFor(std::shared_ptr<ServerShared> server,
                                                                   std::shared_ptr<ServedIpHome> ipHome) {
    return [server = std::move(server), ipHome = std::move(ipHome)](int number) -> std::shared_ptr<net::EventSocket> {
        auto connection = std::make_shared<ControlConnection>(server, ipHome, number, !server->Online());
        server->Sessions().Add(connection);
        return connection;
    };
}

// A session alive enough to have rows is held by its worker.
std::weak_ptr<monitor::RowOwner> ControlConnection::RowKey() {
    return std::static_pointer_cast<ControlConnection>(weak_from_this().lock());
}

std::string ControlConnection::Tag() const { return " -[" + std::to_string(connectionNumber_) + "]- "; }

net::Endpoint ControlConnection::Client() const {
    std::lock_guard lock(recordMutex_);
    return client_;
}

std::string ControlConnection::ClientAddress() const { return Client().Address(); }

void ControlConnection::SendReply(std::string_view reply) { Transmit(reply, false); }

void ControlConnection::SendLeadingLines(std::string_view lines) { Transmit(lines, true); }

void ControlConnection::Transmit(std::string_view reply, bool more) {
    std::lock_guard lock(replyMutex_);
    TransmitLocked(reply, more);
}

void ControlConnection::TransmitLocked(std::string_view reply, bool more) {
    std::size_t sent = 0;
    while (sent < reply.size()) {
        const net::IoResult result = Send(reply.data() + sent, reply.size() - sent, more);
        if (result.Moved()) {
            sent += result.bytes;
        } else if (result.WouldBlock()) {
            const bool ready = result.waitFor == net::Readiness::Readable ? WaitReadable(kReplyWriteTimeout)
                                                                           : WaitWritable(kReplyWriteTimeout);
            if (ready) continue;
            Close();  // the reply cannot be completed, so the stream is no longer usable
            break;
        } else {
            if (Secure()) Close();  // a failed TLS stream (a handshake refused) cannot go on
            break;
        }
    }
    server_->Log().AppendLine(Tag() + std::string(reply), monitor::ServerReply, false, true);
    sessionLog_.WriteReply(connectionNumber_, reply);
}

void ControlConnection::SystemMessage(std::string_view text, std::uint32_t kind) {
    sessionLog_.WriteSystem(text);
    server_->Log().AppendLine(text, kind, false, true);
}

void ControlConnection::SetUserName(const std::string& name) {
    std::lock_guard lock(recordMutex_);
    userName_ = name;
}

std::string ControlConnection::UserName() const {
    std::lock_guard lock(recordMutex_);
    return userName_;
}

void ControlConnection::Kick() {
    SystemMessage(Tag() + "Kicked User : " + UserName() + " - IP : " + ClientAddress() + "\r\n",
                  monitor::SystemMessage);
    data_.EndTransfers();
    Close();
}

std::string ControlConnection::ServerIpHome() const {
    std::lock_guard lock(recordMutex_);
    return serverIpHome_;
}

void ControlConnection::OnSend() {
    if (greetingSent_) return;
    greetingSent_ = true;
    const net::Endpoint peer = PeerName().value_or(net::Endpoint{});
    if (AwaitsProxyHeader(peer)) return;
    SendGreeting(peer);
}

void ControlConnection::SendGreeting(const net::Endpoint& peer) {
    const std::string address = peer.Address();
    {
        std::lock_guard lock(recordMutex_);
        client_ = peer;
    }
    SystemMessage(Tag() + "Connected to " + address + "\r\n", monitor::SystemMessage);
    if (ipHome_->implicitTls) SecureFromFirstByte();
    server_->Registry().Requests().InsertTop(
        RowKey(),
        {std::to_string(connectionNumber_), address, "?", monitor::FormatRecordStampNow(), "?"});
    SendLeadingLines("220-Tolvane-D v" TOLVANE_VERSION " --*** Beta ***--\r\n"
                     "xxx-Get your FREE Version at https://tolvane.dev\r\n"
                     "xxx-\r\n");
    if (serverOffline_) {
        SendReply("421 Server is temporarly unavailable. Try later\r\n");
        server_->Registry().Requests().SetCell(RowKey(), monitor::RequestColumns::Reason,
                                               "Server temporarly unavailable");
        Close();
        return;
    }
    const std::string welcomeFile = server_->WelcomeFile();
    if (!welcomeFile.empty()) SendMessageFile(welcomeFile);
    SendReply("220 Server ready...\r\n");
}

void ControlConnection::OnReceive() {
    char block[kReceiveBlock];
    if (!greetingSent_ && !ipHome_->trustedProxies.empty()) OnSend();
    // A secure transport may hold more of a record than the block took, which no read event
    // would announce.
    do {
        const net::IoResult received = Receive(block, sizeof block);
        if (!received.Moved()) return;
        std::string_view text(block, received.bytes);
        std::string commands;
        if (proxyCheck_ != ProxyCheck::Done) text = commands = TakeProxyBytes(text);
        pendingText_.append(text);
        TakeCommandLines();
    } while (IsOpen() && HasBufferedInput());
    // A steady trickle never lets the worker fall idle, so the limit is checked here too.
    if (IsOpen() && !login_.loggedIn && SilentTooLong()) TimeOut();
}

// Runs every complete line of the pending text in order; a line may end in CR LF or LF alone.
// Over-long lines are refused and skipped, so the pending text stays bounded.
void ControlConnection::TakeCommandLines() {
    std::size_t start = 0;
    for (std::size_t end;
         IsOpen() && !discardPendingLines_ && (end = pendingText_.find('\n', start)) != std::string::npos;
         start = end + 1) {
        std::string line = pendingText_.substr(start, end + 1 - start);
        if (discardingLongLine_) {
            discardingLongLine_ = false;
        } else if (LineContentLength(line) > kMaxCommandLine) {
            RefuseLongLine();
        } else {
            ExecuteLine(std::move(line));
        }
    }
    pendingText_.erase(0, start);
    if (discardPendingLines_) {
        discardPendingLines_ = false;
        pendingText_.clear();
    } else if (discardingLongLine_) {
        pendingText_.clear();
    } else if (pendingText_.size() > kMaxCommandLine + 1) {
        RefuseLongLine();
        discardingLongLine_ = true;
        pendingText_.clear();
    }
}

void ControlConnection::RefuseLongLine() { SendReply("500 Command line too long.\r\n"); }

void ControlConnection::ExecuteLine(std::string line) {
    lastCommandAt_ = std::chrono::steady_clock::now();
    sessionLog_.WriteCommand(connectionNumber_, line);
    line.pop_back();  // the line feed
    if (line.empty() || line.back() != '\r') line.push_back('\r');
    const std::string verb = CommandVerb(line);
    const std::string argument = CommandArgument(line);
    LogCommand(verb, argument);
    const store::ProfileReadScope oneVersionPerCommand;
    ReloadAccountIfRequested();
    Dispatch(verb, argument);
}

std::string ControlConnection::CommandVerb(std::string_view line) {
    const std::size_t blank = line.find(' ');
    const std::size_t end = blank != std::string_view::npos ? blank : line.find('\r');
    return std::string(line.substr(0, end));
}

std::string ControlConnection::CommandArgument(std::string_view line) {
    const std::size_t blank = line.find(' ');
    const std::size_t cr = line.find('\r');
    if (blank == std::string_view::npos) return std::string(line.substr(0, cr));
    if (cr < blank) return {};
    return std::string(line.substr(blank + 1, cr == std::string_view::npos ? cr : cr - blank - 1));
}

void ControlConnection::LogCommand(const std::string& verb, const std::string& argument) {
    std::string shown = SameVerb(verb, "PASS") ? ">> Hidden <<" : argument;
    if (shown == verb) shown.clear();
    server_->Log().AppendLine(Tag() + verb + " " + shown + "\r\n", monitor::RemoteCommand, false, true);
}

// Until the login succeeds the session may not stay silent longer than the pre-login limit,
// whatever the named account allows: otherwise USER alone would hold a connection forever.
int ControlConnection::EffectiveTimeout() const {
    if (login_.loggedIn) return accountTimeout_;
    const int limit = server_->PreLoginTimeout();
    return accountTimeout_ == -1 ? limit : std::min(accountTimeout_, limit);
}

// Before login only complete command lines count: a client that trickles bytes which never
// finish a line would otherwise hold its connection (and a thread) for ever.
bool ControlConnection::SilentTooLong() const {
    const int timeout = EffectiveTimeout();
    if (timeout == -1) return false;
    if (login_.loggedIn) return idleTicks_.load() >= timeout;
    return std::chrono::steady_clock::now() - lastCommandAt_ >= std::chrono::seconds(timeout);
}

void ControlConnection::OnIdleTick() {
    ReloadAccountIfRequested();
    if (data_.MovedSinceLastTick()) {
        idleTicks_.store(0);
    } else {
        idleTicks_.fetch_add(1);
    }
    if (SilentTooLong()) TimeOut();
}

int ControlConnection::DataTimeout() const { return accountTimeout_ > 0 ? accountTimeout_ : kDefaultDataTimeout; }

void ControlConnection::TimeOut() {
    SystemMessage(" -[" + std::to_string(connectionNumber_) + "]- Timed out : " + UserName() +
                      " - IP : " + ClientAddress() + "\r\n",
                  monitor::SystemMessage);
    RemoveConnectionsRow();
    data_.TimeOutTransfers();
    SendReply("421 Connection timed-out.\r\n");
    Close();
}

void ControlConnection::OnClose() {
    RemoveConnectionsRow();
    Close();
}

void ControlConnection::RemoveConnectionsRow() { server_->Registry().Connections().Remove(RowKey()); }

void ControlConnection::OnWorkerExit() {
    data_.EndTransfers();
    if (login_.loggedIn) WriteBackCredit();
    // The place is free before the end is announced, so a client told of it can take it.
    if (login_.countedAsUser) ipHome_->usersLoggedIn.fetch_sub(1);
    SystemMessage(Tag() + "Closed connection to " + ClientAddress() + " ...\r\n", monitor::SystemMessage);
    sessionLog_.Close();
    server_->Sessions().Remove(this);
}

}  // namespace tolvane::ftp
