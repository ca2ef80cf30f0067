#pragma once

// The --help texts of the account commands.

#include <string>

namespace tolvane::store::cli {

std::string IpHomeUsage();
std::string UserUsage();
std::string GroupUsage();

}  // namespace tolvane::store::cli
