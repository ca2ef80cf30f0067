#pragma once

#include <filesystem>
#include <string>

namespace tolvane::net {

// Writes a new P-256 key (readable by its owner only) and a certificate for `hostName` signed
// with it, good for a first start until a real certificate takes its place. False, with `error`
// set, when either file cannot be written.
bool WriteSelfSignedCertificate(const std::filesystem::path& certificate, const std::filesystem::path& key,
                                const std::string& hostName, std::string& error);

}  // namespace tolvane::net
