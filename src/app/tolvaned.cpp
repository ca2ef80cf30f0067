#include "ftp/ControlConnection.h"
#include "monitor/TerminalLogPrinter.h"
#include "net/ListenSocket.h"
#include "net/WorkerThreads.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using namespace tolvane;

sigset_t ControlSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM}) sigaddset(&signals, signal);
    return signals;
}

}  // namespace

int main(int argc, char** argv) {
    bool offline = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--offline") == 0) offline = true;
    }
    // Block the control signals before any worker starts so that only sigwait sees them.
    const sigset_t signals = ControlSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    auto server = std::make_shared<ftp::ServerShared>("./");
    server->SetOnline(!offline);
    monitor::TerminalLogPrinter printer(server->Log(), stdout, monitor::TerminalLogPrinter::WantsColours(stdout));
    auto ipHome = std::make_shared<ftp::ServedIpHome>();
    ipHome->name = "127.0.0.1-2121";
    auto listener = std::make_shared<net::ListenSocket>(ftp::ControlConnection::FactoryFor(server, ipHome));
    if (!listener->CreateAt(inet_addr("127.0.0.1"), 2121) || !listener->Listen(SOMAXCONN)) {
        std::fprintf(stderr, "tolvaned: cannot listen on 127.0.0.1:2121\n");
        return 1;
    }
    server->Log().AppendLine(" - Server loaded and ready ...\r\n", monitor::SystemMessage);
    int received = 0;
    sigwait(&signals, &received);
    listener->Close();
    ipHome->sessions.CloseAll();
    net::WorkerThreads::Instance().JoinAll();
    return 0;
}
