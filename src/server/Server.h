#pragma once

#include "ftp/ServedIpHome.h"
#include "ftp/ServerShared.h"
#include "net/ListenSocket.h"
#include "store/AccountDatabase.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::server {

// The server as a whole, UI-neutral: the database folders, one listening socket per enabled IP
// home, the online flag and the shutdown. Hosted by the window and by the daemon alike.
class Server {
public:
    // `home` is the server home holding Database/, Logging/ and Settings.ini.
    explicit Server(const std::filesystem::path& home);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Ensures the database and logging folders; on failure returns the message to show before
    // ending the program.
    std::optional<std::string> InitDatabase();
    // The start-up lines of the log: product, about text, socket layer, "loaded and ready".
    void AnnounceStart(long maxSockets);
    // Brings up every IP home file of the database; a second call closes the previous set first.
    void CreateServerSockets();
    void GoOnline();
    void GoOffline();
    // Says farewell to every logged-in session, closes every socket and joins every worker.
    void Shutdown();

    ftp::ServerShared& Shared() { return *shared_; }
    const std::filesystem::path& Home() const { return home_; }
    // The IP homes that took a slot at the last CreateServerSockets, in slot order.
    std::vector<std::shared_ptr<ftp::ServedIpHome>> ServedIpHomes() const;

private:
    struct Slot {
        std::shared_ptr<ftp::ServedIpHome> ipHome;
        std::weak_ptr<net::ListenSocket> listener;
        std::uint16_t port = 0;  // 0 when not listening
    };

    void LogSystem(const std::string& text);
    void LogError(const std::string& text);
    void BringUp(const std::filesystem::path& ipHomeFile);
    // The IP home's certificate, or none; a certificate that does not load is logged.
    bool TakeTlsSettings(const store::IpHome& settings, const std::string& label, ftp::ServedIpHome& ipHome);
    std::shared_ptr<const net::TlsContext> LoadTls(const store::IpHome& settings, const std::string& label);
    void ApplyNetworkSettings(const store::IpHome& settings, ftp::ServedIpHome& ipHome);
    void CloseListeners();
    void EndSessions();

    const std::filesystem::path home_;
    const std::shared_ptr<ftp::ServerShared> shared_;
    mutable std::mutex mutex_;  // the window and signal handling may drive the server
    bool socketsCreated_ = false;
    std::vector<Slot> slots_;
};

}  // namespace tolvane::server
