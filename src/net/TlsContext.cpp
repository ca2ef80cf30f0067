#include "net/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace tolvane::net {
namespace {

constexpr long kSessionCacheSize = 20000;
constexpr unsigned char kSessionIdContext[] = "tolvane-ftp";
constexpr unsigned char kFtpProtocol[] = {3, 'f', 't', 'p'};

std::string OpenSslError(const std::string& what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return what;
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return what + ": " + text;
}

// A client that offers ALPN gets "ftp" when it offers that; one that offers only other
// protocols goes on without ALPN rather than being cut off.
int SelectFtp(SSL*, const unsigned char** selected, unsigned char* selectedLength, const unsigned char* offered,
              unsigned int offeredLength, void*) {
    unsigned char* chosen = nullptr;
    if (SSL_select_next_proto(&chosen, selectedLength, kFtpProtocol, sizeof kFtpProtocol, offered, offeredLength) !=
        OPENSSL_NPN_NEGOTIATED)
        return SSL_TLSEXT_ERR_NOACK;
    *selected = chosen;
    return SSL_TLSEXT_ERR_OK;
}

}  // namespace

void TlsContext::Free::operator()(SSL_CTX* context) const { SSL_CTX_free(context); }

std::shared_ptr<TlsContext> TlsContext::Load(const std::filesystem::path& certificate,
                                             const std::filesystem::path& key, std::string& error) {
    Handle context(SSL_CTX_new(TLS_server_method()));
    if (!context) {
        error = OpenSslError("cannot create a TLS context");
        return nullptr;
    }
    SSL_CTX* native = context.get();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(native, TLS1_3_VERSION);
    // Renegotiation only serves attacks on a server; clients that stop without close_notify are
    // common on data connections, and the transfer's own end is what counts there.
    SSL_CTX_set_options(native, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Writes that would block are repeated from the same bytes, not always the same buffer.
    SSL_CTX_set_mode(native, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_SERVER);
    SSL_CTX_sess_set_cache_size(native, kSessionCacheSize);
    SSL_CTX_set_session_id_context(native, kSessionIdContext, sizeof kSessionIdContext - 1);
    SSL_CTX_set_alpn_select_cb(native, SelectFtp, nullptr);
    if (SSL_CTX_use_certificate_chain_file(native, certificate.c_str()) != 1) {
        error = OpenSslError("cannot load certificate " + certificate.string());
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(native, key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(native) != 1) {
        error = OpenSslError("cannot load key " + key.string());
        return nullptr;
    }
    return std::make_shared<TlsContext>(std::move(context));
}

}  // namespace tolvane::net
