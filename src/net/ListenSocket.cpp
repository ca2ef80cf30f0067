#include "net/ListenSocket.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tolvane::net {
namespace {

int OpenSpareDescriptor() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

bool OutOfDescriptors(int error) { return error == EMFILE || error == ENFILE; }

}  // namespace

ListenSocket::ListenSocket(ConnectionFactory factory, std::string refusal, RefusalNotice refused)
    : factory_(std::move(factory)),
      refusal_(std::move(refusal)),
      refused_(std::move(refused)),
      spare_(OpenSpareDescriptor()) {}

ListenSocket::~ListenSocket() {
    if (spare_ >= 0) ::close(spare_);
}

void ListenSocket::OnAccept() {
    const int number = connectionCounter_.fetch_add(1) + 1;
    auto connection = factory_(number);
    if (Accept(connection)) return;
    const int error = LastError();
    if (OutOfDescriptors(error) && RefuseWithSpareDescriptor(number)) return;
    if (OutOfDescriptors(error) || error == ENOBUFS || error == ENOMEM) {
        // The pending client stays queued; give the process a moment to free descriptors
        // instead of spinning on it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool ListenSocket::RefuseWithSpareDescriptor(int connectionNumber) {
    if (spare_ < 0) spare_ = OpenSpareDescriptor();
    if (spare_ < 0) return false;
    ::close(spare_);
    Endpoint peer;
    const int client = AcceptPending(peer);
    if (client >= 0) {
        // A new socket's buffer takes a line at once.
        [[maybe_unused]] const ssize_t sent = ::send(client, refusal_.data(), refusal_.size(), MSG_NOSIGNAL);
        ::close(client);
    }
    spare_ = OpenSpareDescriptor();
    if (client < 0) return false;
    if (refused_) refused_(connectionNumber);
    return true;
}

}  // namespace tolvane::net
