#include "control/ControlClient.h"

#include "control/ControlProtocol.h"
#include "control/UnixSocket.h"

#include <cerrno>
#include <cstring>
#include <ostream>

namespace tolvane::control {
namespace fs = std::filesystem;
namespace {

// The home the packaged service runs on (its StateDirectory).
const fs::path kServiceHome = "/var/lib/tolvane";

// A listing of many thousands of sessions takes the server a while to put together.
constexpr std::chrono::seconds kAnswerTimeout{30};

constexpr const char* kCtlUsage =
    "Usage: tolvaned [--home DIR] ctl COMMAND [--json]\n"
    "  status | sessions | transfers | requests   show the server's state and live lists\n"
    "  kick ID | close-transfer ID                end a session or a transfer\n"
    "  speed ID RATE                              a transfer's limit in bytes/s (k, m: 1024s; 0: none)\n"
    "  credit ID +BYTES|-BYTES                    give or take a session's download credit\n"
    "  offline | online | reload                  as SIGUSR1, SIGUSR2 and SIGHUP do\n";

}  // namespace

fs::path ControlClient::HomeToAdminister(const fs::path& home, bool homeGiven) {
    if (homeGiven || Serves(home) || !Serves(kServiceHome)) return home;
    return kServiceHome;
}

bool ControlClient::Serves(const fs::path& home) {
    UnixSocket socket;
    return socket.Connect(ControlSocketPath(home));
}

int ControlClient::Run(const fs::path& home, const std::vector<std::string>& arguments, std::ostream& out,
                       std::ostream& err) {
    if (arguments.empty() || arguments.front() == "--help" || arguments.front() == "-h") {
        (arguments.empty() ? err : out) << kCtlUsage;
        return arguments.empty() ? 2 : 0;
    }
    const std::string line = RequestLine(arguments);
    if (!ParseRequest(line)) {
        err << "tolvaned ctl: a request is at most " << kMaxRequestWords << " words of printable ASCII\n" << kCtlUsage;
        return 2;
    }
    const fs::path path = ControlSocketPath(home);
    UnixSocket socket;
    if (!socket.Connect(path)) {
        err << "tolvaned ctl: no tolvaned answers at " << path.string() << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    socket.SetTimeout(kAnswerTimeout);
    if (!socket.SendAll(line)) {
        err << "tolvaned ctl: cannot send to " << path.string() << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    const std::string answer = socket.ReceiveAll(kMaxAnswerBytes);
    if (answer.starts_with(kOkLine)) {
        out << answer.substr(kOkLine.size());
        return 0;
    }
    const std::string text = answer.starts_with(kErrorLine) ? answer.substr(kErrorLine.size()) : "no answer\n";
    err << "tolvaned ctl: " << text;
    if (!text.ends_with('\n')) err << '\n';
    return 1;
}

}  // namespace tolvane::control
