#pragma once

#include "TestClient.h"

#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace tolvane::testing {

// A control connection that asks for AUTH TLS and logs in over it, as an FTPS client does.
// Blocking; the certificate is not checked.
class TlsLogin {
public:
    TlsLogin(std::uint16_t port, const std::string& user, const std::string& password)
        : plain_(port), context_(SSL_CTX_new(TLS_client_method()), SSL_CTX_free), ssl_(nullptr, SSL_free) {
        plain_.ReadReply();
        plain_.Send("AUTH TLS\r\n");
        if (!plain_.ReadReply().starts_with("234 ")) return;
        ssl_.reset(SSL_new(context_.get()));
        SSL_set_fd(ssl_.get(), plain_.Fd());
        if (SSL_connect(ssl_.get()) != 1) return;
        const std::string login = "USER " + user + "\r\nPASS " + password + "\r\n";
        SSL_write(ssl_.get(), login.data(), static_cast<int>(login.size()));
        for (std::string replies; !loggedIn_ && replies.find("530 ") == std::string::npos;) {
            char buffer[512];
            const int read = SSL_read(ssl_.get(), buffer, sizeof buffer);
            if (read <= 0) return;
            replies.append(buffer, static_cast<std::size_t>(read));
            loggedIn_ = replies.find("\r\n230 ") != std::string::npos;
        }
    }
    ~TlsLogin() {
        if (ssl_) SSL_shutdown(ssl_.get());
    }
    TlsLogin(const TlsLogin&) = delete;
    TlsLogin& operator=(const TlsLogin&) = delete;

    bool LoggedIn() const { return loggedIn_; }

private:
    TestClient plain_;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context_;
    std::unique_ptr<SSL, decltype(&SSL_free)> ssl_;
    bool loggedIn_ = false;
};

}  // namespace tolvane::testing
