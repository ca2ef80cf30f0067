#include "store/TlsFiles.h"

#include "net/SelfSignedCertificate.h"

#include <system_error>
#include <unistd.h>

namespace tolvane::store {
namespace fs = std::filesystem;

namespace {

constexpr const char* kTlsUsage =
    "Usage: tolvaned [--home DIR] tls self-signed [HOST]\n"
    "Writes a self-signed certificate for HOST (this machine's name by default) and its key\n"
    "as the program-wide pair, which every IP home without its own serves FTPS with.\n";

std::string ThisHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

}  // namespace

TlsFiles DefaultTlsFiles(const fs::path& serverHome) {
    return {serverHome / "tls" / "certificate.pem", serverHome / "tls" / "key.pem"};
}

std::optional<TlsFiles> TlsFilesFor(const fs::path& serverHome, const std::string& ownCertificate,
                                    const std::string& ownKey) {
    if (!ownCertificate.empty()) return TlsFiles{ownCertificate, ownKey.empty() ? ownCertificate : ownKey};
    TlsFiles defaults = DefaultTlsFiles(serverHome);
    std::error_code ignored;
    if (!fs::exists(defaults.certificate, ignored)) return std::nullopt;
    return defaults;
}

int RunTlsCommand(const fs::path& serverHome, const std::vector<std::string>& words, std::ostream& out,
                  std::ostream& error) {
    if (words.size() < 2 || words.size() > 3 || words[1] != "self-signed") {
        (words.size() == 2 && words[1] == "--help" ? out : error) << kTlsUsage;
        return words.size() == 2 && words[1] == "--help" ? 0 : 2;
    }
    const TlsFiles files = DefaultTlsFiles(serverHome);
    std::error_code created;
    fs::create_directories(files.certificate.parent_path(), created);
    std::string failure;
    if (created || !net::WriteSelfSignedCertificate(files.certificate, files.key,
                                                    words.size() == 3 ? words[2] : ThisHostName(), failure)) {
        error << "tolvaned: " << (created ? created.message() : failure) << "\n";
        return 1;
    }
    out << "certificate: " << files.certificate.string() << "\nkey: " << files.key.string() << "\n";
    return 0;
}

}  // namespace tolvane::store
