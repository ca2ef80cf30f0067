#include "net/SelfSignedCertificate.h"

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <unistd.h>

namespace tolvane::net {
namespace {

constexpr long kValidSeconds = 825L * 24 * 60 * 60;

struct FreeKey {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeCertificate {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct FreeExtension {
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

File CreateFile(const std::filesystem::path& path, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return nullptr;
    File file(::fdopen(fd, "w"));
    if (!file) ::close(fd);
    return file;
}

bool RandomSerial(X509* certificate) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return false;
    bytes[0] &= 0x7f;  // positive
    BIGNUM* number = BN_bin2bn(bytes, sizeof bytes, nullptr);
    const bool set = number != nullptr && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate)) != nullptr;
    BN_free(number);
    return set;
}

bool AddAltName(X509* certificate, const std::string& hostName) {
    const std::string names = "DNS:" + hostName + ",DNS:localhost,IP:127.0.0.1";
    std::unique_ptr<X509_EXTENSION, FreeExtension> extension(
        X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, names.c_str()));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

bool Describe(X509* certificate, EVP_PKEY* key, const std::string& hostName) {
    X509_NAME* name = X509_get_subject_name(certificate);
    const auto* commonName = reinterpret_cast<const unsigned char*>(hostName.c_str());
    return X509_set_version(certificate, 2) == 1 && RandomSerial(certificate) &&
           X509_gmtime_adj(X509_getm_notBefore(certificate), 0) != nullptr &&
           X509_gmtime_adj(X509_getm_notAfter(certificate), kValidSeconds) != nullptr &&
           X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, commonName, -1, -1, 0) == 1 &&
           X509_set_issuer_name(certificate, name) == 1 && X509_set_pubkey(certificate, key) == 1 &&
           AddAltName(certificate, hostName) && X509_sign(certificate, key, EVP_sha256()) > 0;
}

}  // namespace

bool WriteSelfSignedCertificate(const std::filesystem::path& certificate, const std::filesystem::path& key,
                                const std::string& hostName, std::string& error) {
    std::unique_ptr<EVP_PKEY, FreeKey> privateKey(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, FreeCertificate> signedCertificate(X509_new());
    if (!privateKey || !signedCertificate || !Describe(signedCertificate.get(), privateKey.get(), hostName)) {
        error = "cannot make the certificate";
        return false;
    }
    const File keyFile = CreateFile(key, 0600);
    if (!keyFile || PEM_write_PrivateKey(keyFile.get(), privateKey.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        error = "cannot write " + key.string();
        return false;
    }
    const File certificateFile = CreateFile(certificate, 0644);
    if (!certificateFile || PEM_write_X509(certificateFile.get(), signedCertificate.get()) != 1) {
        error = "cannot write " + certificate.string();
        return false;
    }
    return true;
}

}  // namespace tolvane::net
