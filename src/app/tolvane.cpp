#include "control/Attachment.h"
#include "control/ControlClient.h"
#include "store/ProgramSettings.h"
#include "server/Server.h"
#include "store/ServerHome.h"
#include "ui/AttachDialog.h"
#include "ui/Language.h"
#include "ui/MainWindow.h"
#include "Version.h"

#include <QApplication>
#include <QInputDialog>
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
    "       tolvane --attach HOME|HOST:PORT\n"
    "\n"
    "The Tolvane administration window, with the FTP server running inside it, or attached\n"
    "to a running tolvaned (on a home it serves, the window attaches by itself).\n"
    "\n"
    "  --home DIR   server home (default: $TOLVANE_HOME, else $XDG_DATA_HOME/tolvane,\n"
    "               else ~/.local/share/tolvane); created when missing\n"
    "  --attach X   attach to the tolvaned serving home X, or to the admin port HOST:PORT\n"
    "               (password from $TOLVANE_ADMIN_PASSWORD, else asked)\n"
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

std::optional<fs::path> ParseHome(int argc, char** argv, int& exitCode, std::optional<std::string>& attach) {
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
        if (argument == "--attach" && i + 1 < argc) {
            attach = argv[++i];
        } else if (argument == "--home" && i + 1 < argc) {
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
// With a display the window attaches to it instead.
bool ServedByDaemon(const fs::path& home) {
    if (!control::ControlClient::Serves(home)) return false;
    if (HasDisplay()) return true;
    const std::string message = "A running tolvaned serves the server home " + home.string() +
                                ".\nAdminister it with 'tolvaned ctl', or stop it before opening the window.";
    std::fprintf(stderr, "tolvane: %s\n", message.c_str());
    return true;
}

int RunAttached(const std::string& where) {
    control::AttachTarget target = ui::AttachDialog::ParseTarget(QString::fromStdString(where), {});
    if (target.Remote()) {
        const char* given = std::getenv("TOLVANE_ADMIN_PASSWORD");
        target.password = given ? given
                                : QInputDialog::getText(nullptr, "Tolvane-D", "Admin password of " +
                                                                                   QString::fromStdString(where),
                                                        QLineEdit::Password)
                                      .toStdString();
    }
    auto attached = control::Attachment::Open(target, ui::KnownServers::Asking(nullptr));
    if (const auto* error = std::get_if<std::string>(&attached)) {
        std::fprintf(stderr, "tolvane: cannot attach: %s\n", error->c_str());
        QMessageBox::critical(nullptr, "Tolvane-D", QString::fromStdString(*error));
        return 1;
    }
    ui::MainWindow window(std::move(std::get<std::unique_ptr<control::Attachment>>(attached)));
    window.show();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    std::optional<std::string> attach;
    const auto home = ParseHome(argc, argv, exitCode, attach);
    if (!home) return exitCode;
    const bool served = !attach && ServedByDaemon(*home);
    if (served && !HasDisplay()) return 1;
    if (!HasDisplay()) {
        std::fputs("tolvane: no display to open the window on (DISPLAY is not set).\n"
                   "Run tolvaned to serve without a window.\n",
                   stderr);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    const long maxSockets = store::RaiseDescriptorLimit();
    QApplication application(argc, argv);
    if (attach || served) return RunAttached(attach.value_or(home->string()));
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
