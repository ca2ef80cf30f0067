#include "control/HostedServer.h"

#include "server/Server.h"

namespace tolvane::control {

monitor::LiveRegistry& HostedServer::Registry() { return server_.Shared().Registry(); }
monitor::ServerLog& HostedServer::Log() { return server_.Shared().Log(); }
bool HostedServer::Online() const { return server_.Shared().Online(); }
void HostedServer::GoOnline() { server_.GoOnline(); }
void HostedServer::GoOffline() { server_.GoOffline(); }
void HostedServer::ClearRequests() { server_.Shared().Registry().Requests().Clear(); }
std::string HostedServer::Name() const { return server_.Home().string(); }

}  // namespace tolvane::control
