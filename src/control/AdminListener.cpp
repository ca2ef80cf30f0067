#include "control/AdminListener.h"

#include "control/AdminPassword.h"
#include "net/TlsContext.h"
#include "server/Server.h"
#include "store/ProfileFile.h"
#include "store/TlsFiles.h"

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolvane::control {
namespace {

using namespace std::chrono_literals;

constexpr auto kHandshakeTimeout = 10s;

int ListenTcp(const std::string& address, const std::string& port, std::string& error) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int failure = ::getaddrinfo(address.c_str(), port.c_str(), &hints, &found); failure != 0) {
        error = "admin address " + address + " port " + port + ": " + ::gai_strerror(failure);
        return -1;
    }
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol);
    const int one = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool listening = fd >= 0 && ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 16) == 0;
    ::freeaddrinfo(found);
    if (listening) return fd;
    error = "cannot listen on the admin port " + address + " " + port + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return -1;
}

}  // namespace

std::variant<std::unique_ptr<AdminListener>, std::string> AdminListener::Open(const std::filesystem::path& home,
                                                                              server::Server& server,
                                                                              std::function<void()> reload) {
    const auto settings = home / "Settings.ini";
    const std::string port = store::ReadProfileString(settings, kAdminPortKey.section, kAdminPortKey.key, "");
    if (port.empty() || port == "0") return std::unique_ptr<AdminListener>();
    const std::string hash = store::ReadProfileString(settings, kAdminPasswordKey.section, kAdminPasswordKey.key, "");
    if (hash.empty()) return "the admin port is set but no admin password: run 'tolvaned admin password' first";
    const store::TlsFiles files = store::DefaultTlsFiles(home);
    std::string error;
    auto tls = net::TlsContext::Load(files.certificate, files.key, error);
    if (!tls) return "the admin port needs the program's certificate (tolvaned tls self-signed): " + error;
    const std::string address = store::ReadProfileString(settings, kAdminAddressKey.section, kAdminAddressKey.key,
                                                          std::string(kAdminAddressDefault));
    const int listenFd = ListenTcp(address, port, error);
    if (listenFd < 0) return error;
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd < 0) {
        ::close(listenFd);
        return std::string("cannot make a wake-up descriptor: ") + std::strerror(errno);
    }
    return std::make_unique<AdminListener>(Key(), listenFd, wakeFd, std::move(tls), hash, server, std::move(reload));
}

AdminListener::AdminListener(Key, int listenFd, int wakeFd, std::shared_ptr<net::TlsContext> tls,
                             std::string passwordHash, server::Server& server, std::function<void()> reload)
    : listenFd_(listenFd),
      wakeFd_(wakeFd),
      tls_(std::move(tls)),
      commands_(server, std::move(reload)),
      sessions_(commands_, server.Shared().Log(), std::move(passwordHash)),
      thread_([this] { AcceptUntilStopped(); }) {}

AdminListener::~AdminListener() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
    ::close(listenFd_);
}

int AdminListener::Port() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    char port[NI_MAXSERV];
    if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, nullptr, 0, port, sizeof port, NI_NUMERICSERV))
        return 0;
    return std::atoi(port);
}

void AdminListener::AcceptUntilStopped() {
    for (;;) {
        pollfd events[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(events, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (events[1].revents != 0) return;
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        sessions_.Start(AdminLink::Wrap(client),
                        [tls = tls_](AdminLink& link) { return link.AcceptTls(tls->Native(), kHandshakeTimeout); });
    }
}

}  // namespace tolvane::control
