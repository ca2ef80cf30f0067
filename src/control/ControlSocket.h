#pragma once

#include "control/AdminSessions.h"
#include "control/ControlCommands.h"
#include "control/UnixSocket.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <variant>

namespace tolvane::server {
class Server;
}

namespace tolvane::control {

// The server end of `tolvaned ctl`: a local socket in the server home, mode 0600, answered one
// request at a time on a thread of its own. Only the server's own user and root are heard. A
// window that attaches keeps its connection, served on a thread of its own.
class ControlSocket {
    // Only Open makes one.
    class Key {
        friend class ControlSocket;
        Key() = default;
    };

public:
    // Listens at the home's control socket, taking the place of one a dead server left behind;
    // an error text when another server answers there or the socket cannot be made. Call it
    // before the server goes online: the socket's mode comes from a umask, which is the whole
    // process's, and no session may be making a file meanwhile.
    static std::variant<std::unique_ptr<ControlSocket>, std::string> Open(const std::filesystem::path& home,
                                                                          server::Server& server,
                                                                          std::function<void()> reload);
    ControlSocket(Key, std::filesystem::path path, UnixSocket listener, int wakeFd, server::Server& server,
                  std::function<void()> reload);
    // Stops answering and removes the socket.
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

private:
    void ServeUntilStopped();
    void Respond(UnixSocket client);
    // Empty when the client asks to attach a window: its connection then stays open.
    std::optional<std::string> AnswerTo(UnixSocket& client);
    bool Trusted(const UnixSocket& client) const;

    const std::filesystem::path path_;
    UnixSocket listener_;
    const int wakeFd_;
    ControlCommands commands_;
    AdminSessions attached_;
    std::thread thread_;
};

}  // namespace tolvane::control
