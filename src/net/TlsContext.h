#pragma once

#include <filesystem>
#include <memory>
#include <string>

using SSL_CTX = struct ssl_ctx_st;

namespace tolvane::net {

// The server side of TLS for one IP home: its certificate and key, TLS 1.2 and 1.3 only with the
// system's cipher choice, a session cache large enough for thousands of clients (data
// connections resume the control connection's session) and ALPN "ftp".
class TlsContext {
public:
    // Null when the certificate or key cannot be loaded or do not match; `error` says why.
    static std::shared_ptr<TlsContext> Load(const std::filesystem::path& certificate,
                                            const std::filesystem::path& key, std::string& error);

    struct Free {
        void operator()(SSL_CTX* context) const;
    };
    using Handle = std::unique_ptr<SSL_CTX, Free>;

    explicit TlsContext(Handle context) : context_(std::move(context)) {}

    SSL_CTX* Native() const { return context_.get(); }

private:
    Handle context_;
};

}  // namespace tolvane::net
