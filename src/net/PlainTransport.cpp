#include "net/PlainTransport.h"

#include <cerrno>
#include <sys/sendfile.h>
#include <sys/socket.h>

namespace tolvane::net {
namespace {

IoResult Outcome(ssize_t result, Readiness waitFor) {
    if (result > 0) return {IoStatus::Moved, static_cast<std::size_t>(result), 0, waitFor};
    if (result == 0) return {IoStatus::Ended, 0, 0, waitFor};
    const int error = errno;
    if (error == EAGAIN || error == EWOULDBLOCK) return {IoStatus::WouldBlock, 0, error, waitFor};
    return {IoStatus::Failed, 0, error, waitFor};
}

// Runs a call again while a signal interrupts it before anything moved.
template <typename Call>
ssize_t Uninterrupted(Call call) {
    ssize_t result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

IoResult PlainTransport::Send(const void* data, std::size_t length, bool more) {
    const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    return Outcome(Uninterrupted([&] { return ::send(descriptor_.load(), data, length, flags); }), Readiness::Writable);
}

IoResult PlainTransport::Receive(void* buffer, std::size_t length) {
    return Outcome(Uninterrupted([&] { return ::recv(descriptor_.load(), buffer, length, 0); }), Readiness::Readable);
}

IoResult PlainTransport::SendFile(int fileFd, off_t* offset, std::size_t count) {
    const ssize_t sent = Uninterrupted([&] { return ::sendfile(descriptor_.load(), fileFd, offset, count); });
    // Nothing sent means the file ended: not the peer, but no bytes moved either.
    if (sent == 0) return {IoStatus::Ended, 0, 0, Readiness::Writable};
    return Outcome(sent, Readiness::Writable);
}

}  // namespace tolvane::net
