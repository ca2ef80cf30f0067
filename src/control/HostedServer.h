#pragma once

#include "control/AdministeredServer.h"

namespace tolvane::server {
class Server;
}

namespace tolvane::control {

// The server running in the window's own process.
class HostedServer final : public AdministeredServer {
public:
    explicit HostedServer(server::Server& server) : server_(server) {}

    monitor::LiveRegistry& Registry() override;
    monitor::ServerLog& Log() override;
    bool Online() const override;
    void GoOnline() override;
    void GoOffline() override;
    void ClearRequests() override;
    bool Attached() const override { return false; }
    std::string Name() const override;

private:
    server::Server& server_;
};

}  // namespace tolvane::control
