#include "control/AdminPassword.h"

#include "control/AdminLink.h"
#include "control/AdminWire.h"
#include "store/TlsFiles.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <charconv>
#include <istream>
#include <ostream>

namespace tolvane::control {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";
constexpr int kIterations = 200000;
constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;

std::optional<std::string> Derive(std::string_view password, std::string_view salt, int iterations) {
    std::string hash(kHashBytes, '\0');
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                          iterations, EVP_sha256(), kHashBytes, reinterpret_cast<unsigned char*>(hash.data())) != 1)
        return std::nullopt;
    return hash;
}

std::vector<std::string_view> Parts(std::string_view text) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('$', start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

std::string HashAdminPassword(std::string_view password) {
    std::string salt(kSaltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), kSaltBytes) != 1) return {};
    const auto hash = Derive(password, salt, kIterations);
    if (!hash) return {};
    return std::string(kScheme) + '$' + std::to_string(kIterations) + '$' + HexOf(salt) + '$' + HexOf(*hash);
}

bool AdminPasswordMatches(std::string_view stored, std::string_view given) {
    const auto parts = Parts(stored);
    if (parts.size() != 4 || parts[0] != kScheme) return false;
    int iterations = 0;
    const auto [end, failure] = std::from_chars(parts[1].data(), parts[1].data() + parts[1].size(), iterations);
    // A hand-edited count must not make each login cost minutes.
    if (failure != std::errc() || end != parts[1].data() + parts[1].size() || iterations < 1 ||
        iterations > 10 * kIterations)
        return false;
    const auto salt = BytesOfHex(parts[2]);
    const auto expected = BytesOfHex(parts[3]);
    if (!salt || !expected || expected->size() != kHashBytes) return false;
    const auto hash = Derive(given, *salt, iterations);
    return hash && CRYPTO_memcmp(hash->data(), expected->data(), kHashBytes) == 0;
}

int RunAdminCommand(const std::filesystem::path& serverHome, const std::vector<std::string>& words, std::istream& in,
                    std::ostream& out, std::ostream& error) {
    if (words.size() == 2 && words[1] == "fingerprint") {
        const std::string fingerprint = CertificateFingerprint(store::DefaultTlsFiles(serverHome).certificate);
        if (fingerprint.empty()) {
            error << "tolvaned: no program certificate to show (tolvaned tls self-signed makes one)\n";
            return 1;
        }
        out << "SHA-256 " << fingerprint << "\n";
        return 0;
    }
    if (words.size() != 2 || words[1] != "password") {
        error << "usage: tolvaned admin password   (reads the new admin password from standard input)\n"
                 "       tolvaned admin fingerprint (what an attaching window is shown)\n";
        return 2;
    }
    std::string password;
    std::getline(in, password);
    if (password.ends_with('\r')) password.pop_back();
    if (password.empty()) {
        error << "tolvaned: an empty admin password is refused\n";
        return 1;
    }
    const std::string hash = HashAdminPassword(password);
    if (hash.empty() || !store::WriteSetting(serverHome / "Settings.ini", kAdminPasswordKey, hash)) {
        error << "tolvaned: cannot store the admin password in " << (serverHome / "Settings.ini").string() << "\n";
        return 1;
    }
    out << "admin password set; the admin port listens when [Admin] Port is set and the server starts\n";
    return 0;
}

}  // namespace tolvane::control
