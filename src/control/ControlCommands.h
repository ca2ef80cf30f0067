#pragma once

#include "control/ControlProtocol.h"
#include "control/HandleIds.h"

#include <functional>
#include <mutex>
#include <string>

namespace tolvane::server {
class Server;
}

namespace tolvane::control {

struct Answer {
    bool ok = true;
    std::string text;  // ends in a line feed
};

// What `tolvaned ctl` asks of a running server: the three live lists and the window's actions
// on their rows, through the same handles the window uses, and the server's online state.
class ControlCommands {
public:
    // `reload` re-creates the listening sockets the way SIGHUP does.
    ControlCommands(server::Server& server, std::function<void()> reload);

    // Both may be called from any thread: the control socket's and each attached window's.
    Answer Run(const Request& request);
    // The three lists and the online state, as an attached window mirrors them.
    std::string Snapshot();
    // An attached window's edits of the account database.
    Answer PutDatabase(std::string_view changes);

private:
    Answer Status(bool json) const;
    Answer Sessions(bool json);
    Answer Transfers(bool json);
    Answer Requests(bool json) const;
    Answer Kick(const std::string& id);
    Answer CloseTransfer(const std::string& id);
    Answer Speed(const std::string& id, const std::string& rate);
    Answer Credit(const std::string& id, const std::string& bytes);
    Answer Offline();
    Answer Online();
    Answer Reload();
    Answer ReloadAccount(const std::string& id);
    Answer ClearRequests();
    Answer Database() const;
    std::string SnapshotLocked();

    // The live session or transfer numbered `id`, or the answer that says why there is none.
    std::shared_ptr<monitor::SessionHandle> LiveSession(const std::string& id, std::weak_ptr<monitor::RowOwner>& row,
                                                        Answer& refusal);
    std::shared_ptr<monitor::TransferHandle> LiveTransfer(const std::string& id, std::weak_ptr<monitor::RowOwner>& row,
                                                          Answer& refusal);

    server::Server& server_;
    const std::function<void()> reload_;
    std::mutex mutex_;
    HandleIds ids_;
};

}  // namespace tolvane::control
