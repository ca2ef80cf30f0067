#pragma once

#include <memory>
#include <openssl/ssl.h>

namespace bench {

// The client side of TLS for every session of a run: one context, shared by all threads.
// Certificates are not checked: the servers measured use a self-signed one made for the run.
class TlsContext {
public:
    TlsContext();
    SSL_CTX* Get() const { return context_.get(); }

private:
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context_;
};

}  // namespace bench
