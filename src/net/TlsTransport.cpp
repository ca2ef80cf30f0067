#include "net/TlsTransport.h"

#include <algorithm>
#include <cerrno>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <unistd.h>

namespace tolvane::net {

namespace {

// An OpenSSL call repeated while a signal interrupts it; errno is cleared first, so that an
// older value is not read as the call's.
template <typename Call>
int Uninterrupted(SSL* ssl, Call call) {
    for (;;) {
        errno = 0;
        const int result = call();
        if (result == 1 || SSL_get_error(ssl, result) != SSL_ERROR_SYSCALL || errno != EINTR) return result;
    }
}

}  // namespace

void TlsTransport::Free::operator()(SSL* ssl) const { SSL_free(ssl); }

TlsTransport::TlsTransport(std::shared_ptr<const TlsContext> context, const std::atomic<int>& descriptor,
                           bool dataConnection)
    : context_(std::move(context)), descriptor_(descriptor), ssl_(SSL_new(context_->Native())) {
    if (!ssl_) return;
    SSL_set_accept_state(ssl_.get());
    // A control connection idles between commands: its read and write buffers (some 80 KiB)
    // go back between records. A data connection would pay for that on every record.
    if (!dataConnection) {
        SSL_set_mode(ssl_.get(), SSL_MODE_RELEASE_BUFFERS);
        return;
    }
    SSL_set_num_tickets(ssl_.get(), 0);
    // Only files go out in bulk; a control connection's replies gain nothing from it.
    SSL_set_options(ssl_.get(), SSL_OP_ENABLE_KTLS);
}

SSL* TlsTransport::Bound() {
    if (ssl_ && !bound_) bound_ = SSL_set_fd(ssl_.get(), descriptor_.load()) == 1;
    return bound_ ? ssl_.get() : nullptr;
}

TlsTransport::~TlsTransport() = default;

IoResult TlsTransport::Outcome(int result, std::size_t moved) {
    if (result == 1) return {IoStatus::Moved, moved, 0, Readiness::Writable};
    const int error = errno;
    switch (SSL_get_error(ssl_.get(), result)) {
    case SSL_ERROR_WANT_READ: return {IoStatus::WouldBlock, 0, EAGAIN, Readiness::Readable};
    case SSL_ERROR_WANT_WRITE: return {IoStatus::WouldBlock, 0, EAGAIN, Readiness::Writable};
    case SSL_ERROR_ZERO_RETURN: return {IoStatus::Ended, 0, 0, Readiness::Readable};
    case SSL_ERROR_SYSCALL:
        ERR_clear_error();
        return {IoStatus::Failed, 0, error != 0 ? error : EPIPE, Readiness::Writable};
    default:
        ERR_clear_error();
        return {IoStatus::Failed, 0, EPROTO, Readiness::Writable};
    }
}

// A write repeated after WouldBlock must offer the same bytes again, which every caller does.
IoResult TlsTransport::Send(const void* data, std::size_t length, bool) {
    std::lock_guard lock(mutex_);
    SSL* ssl = Bound();
    if (ssl == nullptr) return {IoStatus::Failed, 0, ENOMEM, Readiness::Writable};
    std::size_t written = 0;
    const int result = Uninterrupted(ssl, [&] { return SSL_write_ex(ssl, data, length, &written); });
    return Outcome(result, written);
}

IoResult TlsTransport::Receive(void* buffer, std::size_t length) {
    std::lock_guard lock(mutex_);
    SSL* ssl = Bound();
    if (ssl == nullptr) return {IoStatus::Failed, 0, ENOMEM, Readiness::Readable};
    std::size_t read = 0;
    const int result = Uninterrupted(ssl, [&] { return SSL_read_ex(ssl, buffer, length, &read); });
    IoResult outcome = Outcome(result, read);
    if (outcome.Moved()) outcome.waitFor = Readiness::Readable;
    return outcome;
}

IoResult TlsTransport::SendFile(int fileFd, off_t* offset, std::size_t count) {
    return KernelSendsFile() ? SendFileInKernel(fileFd, offset, count) : SendFileThroughBuffer(fileFd, offset, count);
}

bool TlsTransport::KernelSendsFile() const {
    std::lock_guard lock(mutex_);
    return bound_ && BIO_get_ktls_send(SSL_get_wbio(ssl_.get())) == 1;
}

IoResult TlsTransport::SendFileInKernel(int fileFd, off_t* offset, std::size_t count) {
    std::lock_guard lock(mutex_);
    for (;;) {
        errno = 0;
        const ossl_ssize_t sent = SSL_sendfile(ssl_.get(), fileFd, *offset, count, 0);
        if (sent > 0) {
            *offset += static_cast<off_t>(sent);
            return {IoStatus::Moved, static_cast<std::size_t>(sent), 0, Readiness::Writable};
        }
        if (sent == 0) return {IoStatus::Ended, 0, 0, Readiness::Writable};
        if (SSL_get_error(ssl_.get(), -1) != SSL_ERROR_SYSCALL || errno != EINTR) return Outcome(-1, 0);
    }
}

IoResult TlsTransport::SendFileThroughBuffer(int fileFd, off_t* offset, std::size_t count) {
    if (fileBlockLength_ == 0) {
        const ssize_t read = ::pread(fileFd, fileBlock_.data(), std::min(count, fileBlock_.size()), *offset);
        if (read < 0) return {IoStatus::Failed, 0, errno, Readiness::Writable};
        if (read == 0) return {IoStatus::Ended, 0, 0, Readiness::Writable};
        fileBlockLength_ = static_cast<std::size_t>(read);
    }
    const IoResult result = Send(fileBlock_.data(), fileBlockLength_, false);
    if (result.Moved()) {
        *offset += static_cast<off_t>(result.bytes);
        fileBlockLength_ = 0;
    }
    return result;
}

IoResult TlsTransport::Handshake() {
    std::lock_guard lock(mutex_);
    SSL* ssl = Bound();
    if (ssl == nullptr) return {IoStatus::Failed, 0, ENOMEM, Readiness::Writable};
    if (SSL_is_init_finished(ssl)) return {IoStatus::Moved, 0, 0, Readiness::Writable};
    return Outcome(Uninterrupted(ssl, [&] { return SSL_do_handshake(ssl); }), 0);
}

bool TlsTransport::ResumedSession() const {
    std::lock_guard lock(mutex_);
    return ssl_ && SSL_session_reused(ssl_.get()) == 1;
}

bool TlsTransport::HasBufferedInput() const {
    std::lock_guard lock(mutex_);
    return ssl_ && SSL_pending(ssl_.get()) > 0;
}

void TlsTransport::Finish() {
    std::lock_guard lock(mutex_);
    if (bound_ && SSL_is_init_finished(ssl_.get())) SSL_shutdown(ssl_.get());
    ERR_clear_error();
}

}  // namespace tolvane::net
