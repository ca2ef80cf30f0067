#include "server/Server.h"

#include "ftp/ControlConnection.h"
#include "monitor/ServerLog.h"
#include "net/SocketReactor.h"
#include "store/AccountDatabase.h"
#include "store/ProfileFile.h"
#include "store/ProgramSettings.h"
#include "store/TlsFiles.h"
#include "Version.h"

#include <chrono>
#include <sys/socket.h>
#include <thread>

namespace tolvane::server {
namespace fs = std::filesystem;
namespace {

constexpr auto kListenerEndTimeout = std::chrono::seconds(3);

std::string FolderText(const fs::path& folder) {
    std::string text = folder.string();
    if (text.empty() || text.back() != '/') text += '/';
    return text;
}

bool EnsureDirectory(const fs::path& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) return true;
    return fs::create_directory(path, error) && !error;
}

// Leading digits of the stored port; 0 (which is refused: nobody could find a port the system
// picked) when there are none or they do not fit.
std::uint16_t PortNumber(const std::string& text) {
    unsigned long port = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        port = port * 10 + static_cast<unsigned long>(c - '0');
        if (port > 65535) return 0;
    }
    return static_cast<std::uint16_t>(port);
}

// Every local IPv4 address for the default IP home (or the one address this instance owns,
// when several instances share the database), else the stored numeric address ("::" is every
// IPv6 address); anything else is nothing to bind to.
std::optional<net::Endpoint> BindAddress(const store::IpHome& settings, std::uint16_t port,
                                         const std::string& instanceAddress) {
    if (settings.name != store::kDefaultIpHome) return net::Endpoint::Parse(settings.serverIp, port);
    if (instanceAddress.empty()) return net::Endpoint::AnyIPv4(port);
    return net::Endpoint::Parse(instanceAddress, port);
}

}  // namespace

Server::Server(const fs::path& home)
    : home_(home), shared_(std::make_shared<ftp::ServerShared>(FolderText(home))) {
    shared_->SetWelcomeFile(store::ReadProfileString(home_ / "Settings.ini", "FTPServer-Options", "WelcomeMsg", ""));
    shared_->Guard().Configure(store::ReadFailedLoginSettings(home_ / "Settings.ini"));
}

Server::~Server() { Shutdown(); }

void Server::LogSystem(const std::string& text) { shared_->Log().AppendLine(text, monitor::SystemMessage); }

void Server::LogError(const std::string& text) { shared_->Log().AppendLine(text, monitor::ErrorMessage); }

std::optional<std::string> Server::InitDatabase() {
    const fs::path database = store::DatabaseDir(home_);
    const fs::path fullMachine = store::IpHomeDir(database, store::kDefaultIpHome);
    if (!EnsureDirectory(database)) return "Failed to create UserDatabase directory, terminating (DATABASE)";
    std::error_code error;
    const bool freshDefaultHome = !fs::is_directory(fullMachine, error);
    if (!EnsureDirectory(fullMachine))
        return "Failed to create UserDatabase directory, terminating (DATABASE\\FULL MACHINE)";
    if (!EnsureDirectory(store::UsersDir(database, store::kDefaultIpHome)))
        return "Failed to create UserDatabase directory, terminating (DATABASE\\FULL MACHINE\\USERS)";
    if (!EnsureDirectory(store::GroupsDir(database, store::kDefaultIpHome)))
        return "Failed to create UserDatabase directory, terminating (DATABASE\\FULL MACHINE\\GROUPS)";
    if (!EnsureDirectory(store::LoggingDir(home_))) return "Failed to create Logging directory , terminating (LOGGING)";
    // Only a newly made default home gets its file: an administrator may have deleted it.
    if (freshDefaultHome) store::WriteDefaultIpHome(store::IpHomeFile(database, store::kDefaultIpHome));
    store::RemoveLeftoverCopies(database);
    return std::nullopt;
}

void Server::AnnounceStart(long maxSockets) {
    auto& log = shared_->Log();
    log.AppendRaw("Tolvane-D v" TOLVANE_VERSION "\r\n", 0xFF0000, false, true);
    log.AppendRaw("An FTP server for Linux, with a live log and an account database of plain\r\n"
                  "profile files. One worker thread per connection.\r\n\r\n",
                  monitor::SystemMessage, false, true);
    log.AppendRaw("Using POSIX sockets - poll() event workers - Max Sockets : " + std::to_string(maxSockets) +
                      ".\r\n\r\n",
                  monitor::SystemMessage, false, true);
    log.AppendLine(" - Server loaded and ready ...\r\n", monitor::SystemMessage);
}

void Server::CreateServerSockets() {
    std::lock_guard lock(mutex_);
    CloseListeners();
    slots_.clear();
    LogSystem(" - Creating Server-Sockets ...\r\n");
    const fs::path database = store::DatabaseDir(home_);
    const std::vector<std::string> titles = store::ListTitles(database, store::kIpHomeExtension);
    if (titles.empty())
        LogError(" - No IP Home found,check your server configuration.\r\nIf problem still exists please reinstall ...\r\n");
    for (const std::string& title : titles) BringUp(store::IpHomeFile(database, title));
    std::vector<std::uint16_t> ports;
    for (const Slot& slot : slots_)
        if (slot.port != 0) ports.push_back(slot.port);
    shared_->SetListeningPorts(std::move(ports));
    socketsCreated_ = true;
}

void Server::BringUp(const fs::path& ipHomeFile) {
    const store::IpHome settings = store::ReadIpHome(ipHomeFile);
    const bool ipv6 = settings.serverIp.find(':') != std::string::npos;
    const std::string shownIp = ipv6 ? "[" + settings.serverIp + "]" : settings.serverIp;
    const std::string label = " - " + settings.serverName + "-(" + shownIp + ":" + settings.serverPort + ")";
    if (settings.disabled == 1) {
        LogSystem(label + " ,disabled.\r\n");
        return;
    }
    auto ipHome = std::make_shared<ftp::ServedIpHome>();
    ipHome->name = settings.name;
    ipHome->usersFolder = FolderText(settings.usersDir);
    ipHome->groupsFolder = FolderText(settings.groupsDir);
    ipHome->overwriteAllowed = settings.storeOverwrite > 0;
    ipHome->transferLimit = settings.maxTransfers;
    ipHome->userLimit = settings.maxUsers;
    ApplyNetworkSettings(settings, *ipHome);
    if (!TakeTlsSettings(settings, label, *ipHome)) return;

    const std::uint16_t port = PortNumber(settings.serverPort);
    // Out of descriptors, a client is refused the way a passive data connection is, and the
    // refusal is logged as that connection's reply.
    static const std::string kOutOfSockets = "421 Out of Network sockets, please try later\r\n";
    auto listener = std::make_shared<net::ListenSocket>(
        ftp::ControlConnection::FactoryFor(shared_, ipHome), kOutOfSockets, [shared = shared_](int number) {
            shared->Log().AppendLine(" -[" + std::to_string(number) + "]- " + kOutOfSockets, monitor::ServerReply,
                                     false, true);
        });
    const auto local = BindAddress(
        settings, port, store::ReadProfileString(home_ / "Settings.ini", "FTPServer-Options", "InstanceAddress", ""));
    listener->SetIpv6Only(settings.ipv6Only != 0);
    const bool listening = port != 0 && local && listener->CreateAt(*local) && listener->Listen(SOMAXCONN);
    if (!listening) listener->Close();
    slots_.push_back({ipHome, listening ? listener : nullptr, listening ? port : std::uint16_t{0}});
    if (listening) {
        LogSystem(label + " ,successfully.\r\n");
    } else {
        LogError(label + " ,failed.\r\n");
    }
}

// A home whose TLS settings cannot be kept stays down: served in clear, its clients' passwords
// would cross the network in the open.
bool Server::TakeTlsSettings(const store::IpHome& settings, const std::string& label, ftp::ServedIpHome& ipHome) {
    const auto policy = settings.tlsPolicy.empty() ? store::TlsPolicy::Allowed : store::ParseTlsPolicy(settings.tlsPolicy);
    const auto resumption = settings.tlsResumption.empty() ? store::TlsResumption::SameAddress
                                                           : store::ParseTlsResumption(settings.tlsResumption);
    if (!policy || !resumption) {
        LogError(label + " ,failed: TlsPolicy takes off, allowed, login or data and TlsResumption required, "
                         "same-address or off.\r\n");
        return false;
    }
    ipHome.tlsPolicy = *policy;
    ipHome.tlsResumption = *resumption;
    ipHome.implicitTls = settings.tlsImplicit == 1;
    if (*policy != store::TlsPolicy::Off) ipHome.tls = LoadTls(settings, label);
    if (!ipHome.tls && (ipHome.implicitTls || *policy > store::TlsPolicy::Allowed)) {
        LogError(label + " ,failed: FTPS is required there but has no certificate.\r\n");
        return false;
    }
    return true;
}

std::shared_ptr<const net::TlsContext> Server::LoadTls(const store::IpHome& settings, const std::string& label) {
    const auto files = store::TlsFilesFor(home_, settings.tlsCertificate, settings.tlsKey);
    if (!files) return nullptr;
    std::string error;
    auto context = net::TlsContext::Load(files->certificate, files->key, error);
    if (!context) LogError(label + " ,FTPS off: " + error + "\r\n");
    return context;
}

// Read again on every SIGHUP, so a public address that is a name follows its DNS entry.
void Server::ApplyNetworkSettings(const store::IpHome& settings, ftp::ServedIpHome& ipHome) {
    const auto range = store::PassivePorts(settings);
    if (range) ipHome.passivePorts = std::make_shared<ftp::PassivePortRange>(range->first, range->second);
    if (!settings.pasvAddress.empty()) {
        ipHome.passiveAddress = net::Endpoint::Resolve(settings.pasvAddress, 0);
        if (!ipHome.passiveAddress)
            LogError(" - Cannot resolve PasvAddress " + settings.pasvAddress + " of " + settings.name + "\r\n");
    }
    for (const std::string& text : store::SplitAddressList(settings.trustedProxies)) {
        if (const auto proxy = net::Endpoint::Parse(text)) ipHome.trustedProxies.push_back(*proxy);
    }
}

void Server::GoOnline() {
    std::unique_lock lock(mutex_);
    if (shared_->Online()) {
        LogError(" - Server is already online ...\r\n");
        return;
    }
    if (!socketsCreated_) {
        lock.unlock();
        CreateServerSockets();
        lock.lock();
    }
    shared_->SetOnline(true);
    LogSystem(" - Server is Online ...\r\n");
}

void Server::GoOffline() {
    std::lock_guard lock(mutex_);
    if (!shared_->Online()) {
        LogError(" - Server is already offline ...\r\n");
        return;
    }
    shared_->SetOnline(false);
    LogSystem(" - Server is offline ...\r\n");
}

// Closes the listening sockets and waits until their workers have ended, so that no new
// session can appear behind the caller's back.
void Server::CloseListeners() {
    for (const Slot& slot : slots_)
        if (auto listener = slot.listener.lock()) listener->Close();
    const auto deadline = std::chrono::steady_clock::now() + kListenerEndTimeout;
    for (const Slot& slot : slots_) {
        while (!slot.listener.expired() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void Server::EndSessions() {
    auto& connections = shared_->Registry().Connections();
    for (const monitor::MonitorRow& row : connections.Rows()) {
        const auto session = monitor::SessionOf(row.owner);
        if (session) {
            session->SendReply("421 Closing Connection due server shutdown ...\r\n");
            session->Kick();
        }
        connections.Remove(row.owner);
    }
    shared_->Sessions().CloseAll();
}

void Server::Shutdown() {
    {
        std::lock_guard lock(mutex_);
        shared_->SetOnline(false);
        CloseListeners();
        EndSessions();
    }
    net::SocketReactor::Instance().JoinAll();
}

std::vector<std::shared_ptr<ftp::ServedIpHome>> Server::ServedIpHomes() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<ftp::ServedIpHome>> homes;
    for (const Slot& slot : slots_) homes.push_back(slot.ipHome);
    return homes;
}

}  // namespace tolvane::server
