#pragma once

#include "monitor/LiveRegistry.h"
#include "monitor/ServerLog.h"

#include <string>

namespace tolvane::control {

// The server a window administers: the one running inside it, or a tolvaned it has attached
// to. The panes read its log and lists and act on their rows the same way for both.
class AdministeredServer {
public:
    virtual ~AdministeredServer() = default;

    virtual monitor::LiveRegistry& Registry() = 0;
    virtual monitor::ServerLog& Log() = 0;
    virtual bool Online() const = 0;
    virtual void GoOnline() = 0;
    virtual void GoOffline() = 0;
    // Empties the connection-requests list.
    virtual void ClearRequests() = 0;
    // Whether the server runs in another process (then the window leaves it running).
    virtual bool Attached() const = 0;
    // What the window's title and status bar call it.
    virtual std::string Name() const = 0;
    // False while an attachment has lost its link and is trying to get it back.
    virtual bool Linked() const { return true; }
};

}  // namespace tolvane::control
