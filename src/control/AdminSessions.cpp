#include "control/AdminSessions.h"

#include "control/AdminPassword.h"
#include "control/AdminWire.h"
#include "control/ControlCommands.h"
#include "control/DatabaseCopy.h"
#include "monitor/ServerLog.h"

#include <cstdlib>
#include <deque>

namespace tolvane::control {
namespace {

using namespace std::chrono_literals;

// Before login a peer has this long for each line; afterwards a write that cannot go out for
// this long ends a session whose window has stopped reading.
constexpr auto kLinkTimeout = 10s;
constexpr auto kWatchPeriod = 250ms;
// A quiet server still sends the lists this often, so a window notices a dead link.
constexpr int kPeriodsPerKeepAlive = 40;
constexpr auto kWrongPasswordDelay = 1s;
// Records held for a watcher between two sends; beyond this the oldest go.
constexpr std::size_t kMaxQueuedRecords = 20000;

bool SendFrame(AdminLink& link, std::string_view kind, std::string_view body) {
    return link.SendAll(Frame(kind, body));
}

}  // namespace

AdminSessions::AdminSessions(ControlCommands& commands, monitor::ServerLog& log, std::string passwordHash)
    : commands_(commands), log_(log), passwordHash_(std::move(passwordHash)) {}

AdminSessions::~AdminSessions() {
    stopping_ = true;
    std::lock_guard lock(mutex_);
    for (Running& session : running_) session.link->Interrupt();
    for (Running& session : running_) session.thread.join();
}

void AdminSessions::ReapEnded() {
    for (auto it = running_.begin(); it != running_.end();) {
        if (!it->done) {
            ++it;
            continue;
        }
        it->thread.join();
        it = running_.erase(it);
    }
}

bool AdminSessions::Start(std::unique_ptr<AdminLink> link, std::function<bool(AdminLink&)> prepare) {
    std::lock_guard lock(mutex_);
    ReapEnded();
    if (running_.size() >= kMaxSessions || stopping_) return false;
    Running& session = running_.emplace_back();
    session.link = std::move(link);
    session.thread = std::thread([this, &session, prepare = std::move(prepare)] {
        if (!prepare || prepare(*session.link)) Serve(*session.link);
        // The peer learns of the end now; the descriptor goes when the next session starts.
        session.link->Interrupt();
        session.done = true;
    });
    return true;
}

void AdminSessions::Serve(AdminLink& link) {
    link.SetTimeout(kLinkTimeout);
    if (!LogIn(link)) return;
    AnswerRequests(link);
}

// A window on the control socket has said "attach" there; one from the network says
// "login <hex password>" first.
bool AdminSessions::LogIn(AdminLink& link) {
    if (passwordHash_.empty()) return SendFrame(link, kOkFrame, "attached\n");
    const auto line = link.ReceiveLine(kMaxRequestBytes + 1);
    const auto request = line ? ParseRequest(*line) : std::nullopt;
    if (!request || request->words.size() != 2 || request->words[0] != "login") {
        SendFrame(link, kErrorFrame, "log in first\n");
        return false;
    }
    const auto password = BytesOfHex(request->words[1]);
    if (!password || !AdminPasswordMatches(passwordHash_, *password)) {
        // Guessing goes no faster than this.
        for (auto waited = 0ms; waited < kWrongPasswordDelay && !stopping_; waited += 100ms)
            std::this_thread::sleep_for(100ms);
        SendFrame(link, kErrorFrame, "wrong admin password\n");
        return false;
    }
    return SendFrame(link, kOkFrame, "logged in\n");
}

void AdminSessions::AnswerRequests(AdminLink& link) {
    while (!stopping_) {
        if (!link.Readable(1s)) continue;
        const auto line = link.ReceiveLine(kMaxRequestBytes + 1);
        if (!line) return;
        const auto request = ParseRequest(*line);
        if (!request) {
            SendFrame(link, kErrorFrame, "malformed request\n");
            return;
        }
        if (request->words == std::vector<std::string>{"watch"}) {
            if (SendFrame(link, kOkFrame, "watching\n")) Watch(link);
            return;
        }
        const Answer answer = request->words.front() == "database-put" ? PutDatabase(link, *request)
                                                                                : commands_.Run(*request);
        if (!SendFrame(link, answer.ok ? kOkFrame : kErrorFrame, answer.text)) return;
    }
}

// "database-put LENGTH" and then that many bytes of changes.
Answer AdminSessions::PutDatabase(AdminLink& link, const Request& request) {
    const std::size_t length = request.words.size() == 2 ? std::strtoull(request.words[1].c_str(), nullptr, 10) : 0;
    if (length == 0 || length > kMaxDatabaseBytes) return {false, "database-put wants a length up to 16 MiB\n"};
    const auto changes = link.ReceiveBytes(length);
    if (!changes) return {false, "the changes did not arrive\n"};
    return commands_.PutDatabase(*changes);
}

void AdminSessions::Watch(AdminLink& link) {
    std::mutex queueMutex;
    std::deque<monitor::LogRecord> queue;
    const int subscription = log_.Subscribe([&](const monitor::LogRecord& record) {
        std::lock_guard lock(queueMutex);
        queue.push_back(record);
        if (queue.size() > kMaxQueuedRecords) queue.pop_front();
    });
    std::vector<monitor::LogRecord> backlog = log_.Records();
    if (backlog.size() > kLogBacklog) backlog.erase(backlog.begin(), backlog.end() - kLogBacklog);
    std::uint64_t sent = 0;
    std::string lastSnapshot;
    bool linked = true;
    for (int period = 0; linked && !stopping_; ++period) {
        std::string frames;
        // The lists first: they say which server this is before its log records come.
        if (std::string snapshot = commands_.Snapshot();
            snapshot != lastSnapshot || period % kPeriodsPerKeepAlive == 0) {
            frames += Frame(kRowsFrame, snapshot);
            lastSnapshot = std::move(snapshot);
        }
        for (const auto& record : backlog) {
            if (record.sequence > sent) frames += Frame(kLogFrame, EncodeRecord(record));
            sent = std::max(sent, record.sequence);
        }
        {
            std::lock_guard lock(queueMutex);
            backlog.assign(queue.begin(), queue.end());
            queue.clear();
        }
        if (!frames.empty() && !link.SendAll(frames)) linked = false;
        // A watcher sends nothing: anything readable is its end.
        if (linked && link.Readable(kWatchPeriod)) linked = false;
    }
    log_.Unsubscribe(subscription);
}

}  // namespace tolvane::control
