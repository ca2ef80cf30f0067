#pragma once

#include "control/AdminLink.h"
#include "control/ControlCommands.h"

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tolvane::monitor {
class ServerLog;
}

namespace tolvane::control {

// The connections of attached windows, each served on a thread of its own: request lines
// answered by the control commands, or, once a connection asks to watch, the log (a backlog
// first) and the lists pushed to it as they change. A connection from the network logs in
// with the admin password before anything else is heard.
class AdminSessions {
public:
    // Each window holds two: one watching, one for its commands.
    static constexpr std::size_t kMaxSessions = 32;

    // `passwordHash` is empty for sessions whose peer the caller has already trusted.
    AdminSessions(ControlCommands& commands, monitor::ServerLog& log, std::string passwordHash);
    // Ends every session and waits for its thread.
    ~AdminSessions();
    AdminSessions(const AdminSessions&) = delete;
    AdminSessions& operator=(const AdminSessions&) = delete;

    // `prepare`, when given, runs first on the session's thread (a TLS handshake must not hold
    // the caller); the session ends when it fails. False, the link closed, when there are too
    // many sessions.
    bool Start(std::unique_ptr<AdminLink> link, std::function<bool(AdminLink&)> prepare = {});

private:
    struct Running {
        std::unique_ptr<AdminLink> link;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void Serve(AdminLink& link);
    bool LogIn(AdminLink& link);
    void AnswerRequests(AdminLink& link);
    void Watch(AdminLink& link);
    Answer PutDatabase(AdminLink& link, const Request& request);
    void ReapEnded();

    ControlCommands& commands_;
    monitor::ServerLog& log_;
    const std::string passwordHash_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::list<Running> running_;
};

}  // namespace tolvane::control
