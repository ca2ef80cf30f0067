#include "control/ControlClient.h"
#include "store/ProgramSettings.h"
#include "server/Server.h"
#include "store/ServerHome.h"
#include "ui/Language.h"
#include "ui/MainWindow.h"
#include "Version.h"

#include <QApplication>
#include <QMessageBox>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace tolvane;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "Usage: tolvane [--home DIR]\n"
    "\n"
    "The Tolvane administration window, with the FTP server running inside it.\n"
    "\n"
    "  --home DIR   server home (default: $TOLVANE_HOME, else $XDG_DATA_HOME/tolvane,\n"
    "               else ~/.local/share/tolvane); created when missing\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Without a display, use tolvaned.\n";

// Qt aborts when it cannot reach a display; say so plainly instead.
bool HasDisplay() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (const char* value = std::getenv(variable); value && *value) return true;
    }
    return false;
}

std::optional<fs::path> ParseHome(int argc, char** argv, int& exitCode) {
    std::optional<fs::path> home;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kUsage, stdout);
            exitCode = 0;
            return std::nullopt;
        }
        if (argument == "--version") {
            std::puts("tolvane (Tolvane-D) " TOLVANE_VERSION);
            exitCode = 0;
            return std::nullopt;
        }
        if (argument == "--home" && i + 1 < argc) {
            home = argv[++i];
        } else if (argument.starts_with("--home=")) {
            home = std::string(argument.substr(7));
        } else if (!argument.starts_with("-platform") && !argument.starts_with("-style")) {
            std::fprintf(stderr, "tolvane: unknown option '%s'\nTry 'tolvane --help'.\n", argv[i]);
            exitCode = 2;
            return std::nullopt;
        }
    }
    exitCode = -1;
    return home.value_or(store::DefaultServerHome());
}

// A tolvaned on the same home holds its ports: the window would fail to bind every one of them.
bool ServedByDaemon(const fs::path& home) {
    if (!control::ControlClient::Serves(home)) return false;
    const std::string message = "A running tolvaned serves the server home " + home.string() +
                                ".\nAdminister it with 'tolvaned ctl', or stop it before opening the window.";
    std::fprintf(stderr, "tolvane: %s\n", message.c_str());
    if (HasDisplay()) {
        int argc = 1;
        char name[] = "tolvane";
        char* argv[] = {name, nullptr};
        QApplication application(argc, argv);
        QMessageBox::information(nullptr, "Tolvane-D", QString::fromStdString(message));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    const auto home = ParseHome(argc, argv, exitCode);
    if (!home) return exitCode;
    if (ServedByDaemon(*home)) return 1;
    if (!HasDisplay()) {
        std::fputs("tolvane: no display to open the window on (DISPLAY is not set).\n"
                   "Run tolvaned to serve without a window.\n",
                   stderr);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const long maxSockets = store::RaiseDescriptorLimit();
    QApplication application(argc, argv);
    std::error_code error;
    fs::create_directories(*home, error);

    const auto translator = ui::LoadLanguage(*home, ui::ShowLanguageFailure);
    server::Server server(*home);
    if (const auto failure = server.InitDatabase()) {
        QMessageBox::critical(nullptr, "Tolvane-D", QString::fromStdString(*failure));
        return 1;
    }
    const store::ProgramSettings settings = store::ReadProgramSettings(server.Shared().SettingsFile());
    store::WriteProgramPath(server.Shared().SettingsFile(), QCoreApplication::applicationFilePath().toStdString());
    ui::MainWindow window(server, settings.onlineAtStartup == 1);
    server.AnnounceStart(maxSockets);  // after the window, whose log pane shows what follows
    if (settings.startAsTrayIcon != 1 || window.Tray() == nullptr) window.show();
    const int result = QApplication::exec();
    server.Shutdown();
    return result;
}
