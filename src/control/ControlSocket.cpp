#include "control/ControlSocket.h"

#include "server/Server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolvane::control {
namespace fs = std::filesystem;
namespace {

// A client that connects and says nothing holds the next one back no longer than this.
constexpr std::chrono::seconds kClientTimeout{2};

std::string Failure(const std::string& what, const fs::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

}  // namespace

std::variant<std::unique_ptr<ControlSocket>, std::string> ControlSocket::Open(const fs::path& home,
                                                                              server::Server& server,
                                                                              std::function<void()> reload) {
    const fs::path path = ControlSocketPath(home);
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (fs::exists(status)) {
        if (!fs::is_socket(status)) return path.string() + " is there and is no socket; remove it first";
        UnixSocket probe;
        if (probe.Connect(path))
            return "another tolvaned serves this server home (its control socket " + path.string() + " answers)";
        fs::remove(path, error);
    }
    UnixSocket listener;
    if (!listener.Listen(path)) return Failure("cannot make the control socket", path);
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (wakeFd < 0) return Failure("cannot make a wake-up descriptor for", path);
    return std::make_unique<ControlSocket>(Key(), path, std::move(listener), wakeFd, server, std::move(reload));
}

ControlSocket::ControlSocket(Key, fs::path path, UnixSocket listener, int wakeFd, server::Server& server,
                             std::function<void()> reload)
    : path_(std::move(path)),
      listener_(std::move(listener)),
      wakeFd_(wakeFd),
      commands_(server, std::move(reload)),
      attached_(commands_, server.Shared().Log(), {}),
      thread_([this] { ServeUntilStopped(); }) {}

ControlSocket::~ControlSocket() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
    std::error_code error;
    fs::remove(path_, error);
}

void ControlSocket::ServeUntilStopped() {
    for (;;) {
        pollfd events[2] = {{listener_.Descriptor(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(events, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (events[1].revents != 0) return;
        if (events[0].revents != 0) {
            UnixSocket client = listener_.Accept();
            if (client.IsOpen()) Respond(std::move(client));
        }
    }
}

bool ControlSocket::Trusted(const UnixSocket& client) const {
    const auto uid = client.PeerUid();
    return uid && (*uid == 0 || *uid == ::geteuid());
}

void ControlSocket::Respond(UnixSocket client) {
    client.SetTimeout(kClientTimeout);
    const auto answer = AnswerTo(client);
    if (!answer) {
        attached_.Start(AdminLink::Adopt(std::move(client)));
        return;
    }
    client.SendAll(*answer);
    client.EndSending(kMaxRequestBytes);
}

std::optional<std::string> ControlSocket::AnswerTo(UnixSocket& client) {
    if (!Trusted(client))
        return std::string(kErrorLine) + "refused: only the server's own user and root may administer it\n";
    const auto line = client.ReceiveLine(kMaxRequestBytes);
    const auto request = line ? ParseRequest(*line) : std::nullopt;
    if (!request) return std::string(kErrorLine) + "malformed request\n";
    if (request->words == std::vector<std::string>{"attach"}) return std::nullopt;
    const Answer answer = commands_.Run(*request);
    return std::string(answer.ok ? kOkLine : kErrorLine) + answer.text;
}

}  // namespace tolvane::control
