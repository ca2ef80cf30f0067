#pragma once

#include "store/ProgramSettings.h"

#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::control {

// The remote admin port: off until a port and a password are set in Settings.ini.
inline constexpr store::SettingKey kAdminPortKey{"Admin", "Port"};
inline constexpr store::SettingKey kAdminAddressKey{"Admin", "Address"};
inline constexpr store::SettingKey kAdminPasswordKey{"Admin", "Password"};
inline constexpr std::string_view kAdminAddressDefault = "0.0.0.0";

// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" of a fresh random salt; empty when the
// system gives no random bytes.
std::string HashAdminPassword(std::string_view password);
// Compared in constant time; false for a malformed stored value.
bool AdminPasswordMatches(std::string_view stored, std::string_view given);

// "admin password": the password from standard input, its hash into the settings.
int RunAdminCommand(const std::filesystem::path& serverHome, const std::vector<std::string>& words,
                    std::istream& in, std::ostream& out, std::ostream& error);

}  // namespace tolvane::control
