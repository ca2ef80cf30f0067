#pragma once

#include "control/AdminSessions.h"
#include "control/ControlCommands.h"

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <variant>

namespace tolvane::net {
class TlsContext;
}

namespace tolvane::control {

// The admin port: attached windows from other machines, over TLS with the program-wide
// certificate, each logging in with the admin password. Off unless Settings.ini sets
// [Admin] Port and Password.
class AdminListener {
    class Key {
        friend class AdminListener;
        Key() = default;
    };

public:
    // Nothing (and no error) when the port is off; an error text when it cannot listen.
    static std::variant<std::unique_ptr<AdminListener>, std::string> Open(const std::filesystem::path& home,
                                                                          server::Server& server,
                                                                          std::function<void()> reload);
    AdminListener(Key, int listenFd, int wakeFd, std::shared_ptr<net::TlsContext> tls, std::string passwordHash,
                  server::Server& server, std::function<void()> reload);
    ~AdminListener();
    AdminListener(const AdminListener&) = delete;
    AdminListener& operator=(const AdminListener&) = delete;

    // The port it listens on (the one asked for, or the system's choice for 0 in tests).
    int Port() const;

private:
    void AcceptUntilStopped();

    const int listenFd_;
    const int wakeFd_;
    const std::shared_ptr<net::TlsContext> tls_;
    ControlCommands commands_;
    AdminSessions sessions_;
    std::thread thread_;
};

}  // namespace tolvane::control
