#include "TlsContext.h"

#include <stdexcept>

namespace bench {

TlsContext::TlsContext() : context_(SSL_CTX_new(TLS_client_method()), &SSL_CTX_free) {
    if (!context_) throw std::runtime_error("no TLS context");
    SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context_.get(), SSL_VERIFY_NONE, nullptr);
    // Some servers close a data connection without close_notify; the byte count is checked.
    SSL_CTX_set_options(context_.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
}

}  // namespace bench
