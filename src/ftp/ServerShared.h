#pragma once

#include "ftp/LoginGuard.h"
#include "monitor/LiveRegistry.h"
#include "monitor/ServerLog.h"
#include "net/SocketSet.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tolvane::ftp {

// What the server shares with every session of every IP home. Sessions hold it by shared_ptr,
// so it outlives the last of them.
class ServerShared {
public:
    explicit ServerShared(std::string homeFolder) : homeFolder_(std::move(homeFolder)) {}

    ServerShared(const ServerShared&) = delete;
    ServerShared& operator=(const ServerShared&) = delete;

    monitor::ServerLog& Log() { return log_; }
    monitor::LiveRegistry& Registry() { return registry_; }
    // Every live session of every IP home, so that shutdown reaches those not logged in too.
    net::SocketSet& Sessions() { return sessions_; }

    bool Online() const { return online_.load(); }
    void SetOnline(bool online) { online_.store(online); }

    std::string WelcomeFile() const {
        std::lock_guard lock(welcomeMutex_);
        return welcomeFile_;
    }
    void SetWelcomeFile(std::string path) {
        std::lock_guard lock(welcomeMutex_);
        welcomeFile_ = std::move(path);
    }

    // The server home, ending in '/'.
    const std::string& HomeFolder() const { return homeFolder_; }
    std::string SessionLogFolder() const { return homeFolder_ + "Logging/"; }
    std::string SettingsFile() const { return homeFolder_ + "Settings.ini"; }

    // Failed logins per client address, across every IP home.
    LoginGuard& Guard() { return guard_; }

    // Held while a login checks the account's session limits and takes its place.
    std::mutex& LoginPlaces() { return loginPlaces_; }

    // Seconds a connection without a loaded account may stay silent.
    int PreLoginTimeout() const { return preLoginTimeout_.load(); }
    void SetPreLoginTimeout(int seconds) { preLoginTimeout_.store(seconds); }

    // The ports the IP homes listen on: no data connection may be sent to one of them.
    void SetListeningPorts(std::vector<std::uint16_t> ports) {
        std::lock_guard lock(portsMutex_);
        listeningPorts_ = std::move(ports);
    }
    bool IsListeningPort(std::uint16_t port) const {
        std::lock_guard lock(portsMutex_);
        return std::find(listeningPorts_.begin(), listeningPorts_.end(), port) != listeningPorts_.end();
    }

private:
    const std::string homeFolder_;
    monitor::ServerLog log_;
    monitor::LiveRegistry registry_;
    net::SocketSet sessions_;
    std::atomic<bool> online_{false};
    mutable std::mutex welcomeMutex_;
    std::string welcomeFile_;
    std::atomic<int> preLoginTimeout_{60};
    mutable std::mutex portsMutex_;
    std::vector<std::uint16_t> listeningPorts_;
    std::mutex loginPlaces_;
    LoginGuard guard_;
};

}  // namespace tolvane::ftp
