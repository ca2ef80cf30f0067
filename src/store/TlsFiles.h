#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tolvane::store {

// Where a certificate and its key lie, as PEM files.
struct TlsFiles {
    std::filesystem::path certificate;
    std::filesystem::path key;
};

// The program-wide pair that IP homes without their own use.
TlsFiles DefaultTlsFiles(const std::filesystem::path& serverHome);

// The pair an IP home serves with: its own paths, else the program-wide pair once it exists;
// nothing when neither is there.
std::optional<TlsFiles> TlsFilesFor(const std::filesystem::path& serverHome, const std::string& ownCertificate,
                                    const std::string& ownKey);

// "tls self-signed [HOST]": writes the program-wide pair. The exit code of the command.
int RunTlsCommand(const std::filesystem::path& serverHome, const std::vector<std::string>& words, std::ostream& out,
                  std::ostream& error);

}  // namespace tolvane::store
