#include "net/ListenSocket.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace tolvane::net {

ListenSocket::ListenSocket(ConnectionFactory factory) : factory_(std::move(factory)) {}

void ListenSocket::OnAccept() {
    const int number = connectionCounter_.fetch_add(1) + 1;
    auto connection = factory_(number);
    if (Accept(connection)) return;
    const int error = LastError();
    if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
        // The pending client stays queued; give the process a moment to free descriptors
        // instead of spinning on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace tolvane::net
