#include "control/AdminListener.h"
#include "control/AdminPassword.h"
#include "control/ControlClient.h"
#include "control/ControlSocket.h"
#include "monitor/ServerLog.h"
#include "monitor/TerminalLogPrinter.h"
#include "store/AccountCommands.h"
#include "store/DemoHome.h"
#include "server/Server.h"
#include "server/ServiceUser.h"
#include "store/ServerHome.h"
#include "store/TlsFiles.h"
#include "Version.h"

#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

using namespace tolvane;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "Usage: tolvaned [--home DIR] [--offline] [--demo] [--user NAME [--group NAME]]\n"
    "       tolvaned [--home DIR] iphome|user|group COMMAND [ARGS]\n"
    "       tolvaned [--home DIR] tls self-signed [HOST]\n"
    "       tolvaned [--home DIR] ctl COMMAND [ARGS] [--json]\n"
    "       tolvaned [--home DIR] admin password|fingerprint\n"
    "\n"
    "Serves FTP in the foreground on every enabled IP home of the server home's database,\n"
    "logging to standard output.\n"
    "\n"
    "  --home DIR   server home (default: $TOLVANE_HOME, else $XDG_DATA_HOME/tolvane,\n"
    "               else ~/.local/share/tolvane); created when missing\n"
    "  --offline    start offline: clients are greeted and refused\n"
    "  --demo       when the home has no database yet, create a demo: user demo, password\n"
    "               demo, on 127.0.0.1:2121\n"
    "  --user NAME  started as root: bind the listening sockets, then serve as NAME for good\n"
    "  --group NAME with --user: serve with this group instead of NAME's own\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "The iphome, user and group commands manage the account database; see\n"
    "'tolvaned iphome --help', 'tolvaned user --help' and 'tolvaned group --help'.\n"
    "The ctl commands administer the server that runs on the home; see 'tolvaned ctl --help'.\n"
    "The window attaches over the network when Settings.ini sets [Admin] Port (and Address,\n"
    "default 0.0.0.0), an admin password is set and 'tls self-signed' or a real certificate\n"
    "gives the program's certificate.\n"
    "\n"
    "Signals: SIGTERM or SIGINT shut down, SIGHUP re-creates the listening sockets from the\n"
    "IP home files, SIGUSR1 goes offline, SIGUSR2 goes online.\n";

struct Options {
    std::optional<fs::path> home;
    bool offline = false;
    bool demo = false;
    std::optional<std::string> user;
    std::optional<std::string> group;
};

std::optional<Options> ParseOptions(int argc, char** argv, int& exitCode) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            exitCode = 0;
            return std::nullopt;
        }
        if (argument == "--version") {
            std::puts("tolvaned (Tolvane-D) " TOLVANE_VERSION);
            exitCode = 0;
            return std::nullopt;
        }
        if (argument == "--offline") {
            options.offline = true;
        } else if (argument == "--demo") {
            options.demo = true;
        } else if (argument == "--user" && i + 1 < argc) {
            options.user = argv[++i];
        } else if (argument == "--group" && i + 1 < argc) {
            options.group = argv[++i];
        } else if (argument == "--home" && i + 1 < argc) {
            options.home = argv[++i];
        } else if (argument.starts_with("--home=")) {
            options.home = std::string(argument.substr(7));
        } else {
            std::fprintf(stderr, "tolvaned: unknown option '%s'\nTry 'tolvaned --help'.\n", argv[i]);
            exitCode = 2;
            return std::nullopt;
        }
    }
    if (options.group && !options.user) {
        std::fputs("tolvaned: --group needs --user\nTry 'tolvaned --help'.\n", stderr);
        exitCode = 2;
        return std::nullopt;
    }
    return options;
}

bool IsAccountCommand(std::string_view word) { return word == "iphome" || word == "user" || word == "group"; }

// "--home DIR" may stand before or after the command words; nothing when serving is asked for.
std::optional<int> RunAccountCommand(int argc, char** argv) {
    std::optional<fs::path> home;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--home" && i + 1 < argc) {
            home = argv[++i];
        } else if (argument.starts_with("--home=")) {
            home = std::string(argument.substr(7));
        } else {
            words.emplace_back(argument);
        }
    }
    if (!words.empty() && words.front() == "ctl") {
        const fs::path target = control::ControlClient::HomeToAdminister(home.value_or(store::DefaultServerHome()),
                                                                         home || std::getenv("TOLVANE_HOME"));
        return control::ControlClient::Run(target, {words.begin() + 1, words.end()}, std::cout, std::cerr);
    }
    if (!words.empty() && words.front() == "tls")
        return store::RunTlsCommand(home.value_or(store::DefaultServerHome()), words, std::cout, std::cerr);
    if (!words.empty() && words.front() == "admin")
        return control::RunAdminCommand(home.value_or(store::DefaultServerHome()), words, std::cin, std::cout,
                                        std::cerr);
    if (words.empty() || !IsAccountCommand(words.front())) return std::nullopt;
    return store::RunAccountCommand(home.value_or(store::DefaultServerHome()), words,
                                    {std::cin, std::cout, std::cerr});
}

sigset_t ControlSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&signals, signal);
    return signals;
}

// systemd is told of reloads, so that `systemctl reload` returns once the sockets are back.
void Reload(server::Server& server) {
    sd_notify(0, "RELOADING=1");
    server.CreateServerSockets();
    sd_notify(0, "READY=1");
}

int Serve(server::Server& server, const sigset_t& signals) {
    for (;;) {
        int received = 0;
        if (sigwait(&signals, &received) != 0) continue;
        switch (received) {
        case SIGHUP:
            Reload(server);
            break;
        case SIGUSR1:
            server.GoOffline();
            break;
        case SIGUSR2:
            server.GoOnline();
            break;
        default:
            sd_notify(0, "STOPPING=1");
            server.Shutdown();
            return 0;
        }
    }
}

std::optional<server::ServiceUser> ServiceUserOf(const Options& options, int& exitCode) {
    if (!options.user) {
        if (geteuid() == 0)
            std::fputs("tolvaned: warning: serving as root; give --user NAME to serve as an unprivileged user\n",
                       stderr);
        return std::nullopt;
    }
    auto found = server::ServiceUser::LookUp(*options.user, options.group);
    if (const auto* error = std::get_if<std::string>(&found)) {
        std::fprintf(stderr, "tolvaned: %s\n", error->c_str());
        exitCode = 1;
        return std::nullopt;
    }
    return std::get<server::ServiceUser>(std::move(found));
}

bool Failed(const std::optional<std::string>& error) {
    if (error) std::fprintf(stderr, "tolvaned: %s\n", error->c_str());
    return error.has_value();
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto commandExit = RunAccountCommand(argc, argv)) return *commandExit;
    int exitCode = 0;
    const auto options = ParseOptions(argc, argv, exitCode);
    if (!options) return exitCode;

    const fs::path home = options->home.value_or(store::DefaultServerHome());
    const auto serviceUser = ServiceUserOf(*options, exitCode);
    if (exitCode != 0) return exitCode;
    if (control::ControlClient::Serves(home)) {
        std::fprintf(stderr, "tolvaned: another tolvaned serves %s; administer it with 'tolvaned ctl'\n", home.c_str());
        return 1;
    }
    // The home and what the server makes in it belong to the user it serves as.
    if (serviceUser && Failed(serviceUser->BecomeEffective())) return 1;
    std::error_code error;
    fs::create_directories(home, error);
    if (options->demo && !store::PrepareDemoHome(home)) {
        std::fprintf(stderr, "tolvaned: cannot prepare the demo home in %s\n", home.c_str());
        return 1;
    }
    // Blocked before any worker starts, so that only the main thread's sigwait takes them.
    const sigset_t signals = ControlSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const long maxSockets = store::RaiseDescriptorLimit();

    server::Server server(home);
    monitor::TerminalLogPrinter printer(server.Shared().Log(), stdout, monitor::TerminalLogPrinter::StyleFor(stdout));
    if (const auto failure = server.InitDatabase()) {
        std::fprintf(stderr, "tolvaned: %s\n", failure->c_str());
        return 1;
    }
    server.AnnounceStart(maxSockets);
    if (serviceUser && Failed(serviceUser->RegainRoot())) return 1;
    server.CreateServerSockets();
    if (serviceUser && Failed(serviceUser->DropForGood())) return 1;
    // Serving matters more than administering: a home whose path is too long for a socket name
    // is still served.
    const auto control = control::ControlSocket::Open(home, server, [&server] { Reload(server); });
    if (const auto* failure = std::get_if<std::string>(&control))
        std::fprintf(stderr, "tolvaned: warning: %s; 'tolvaned ctl' cannot reach this server\n", failure->c_str());
    const auto admin = control::AdminListener::Open(home, server, [&server] { Reload(server); });
    if (const auto* failure = std::get_if<std::string>(&admin)) {
        std::fprintf(stderr, "tolvaned: warning: %s; windows cannot attach over the network\n", failure->c_str());
    } else if (const auto& listener = std::get<std::unique_ptr<control::AdminListener>>(admin)) {
        std::fprintf(stderr, "tolvaned: admin port %d open for attached windows (certificate SHA-256 %s)\n",
                     listener->Port(), control::CertificateFingerprint(store::DefaultTlsFiles(home).certificate).c_str());
    }
    if (!options->offline) server.GoOnline();
    sd_notify(0, "READY=1");
    return Serve(server, signals);
}
