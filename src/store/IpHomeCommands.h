#pragma once

// "tolvaned iphome list|add|show|remove".

#include "store/AccountCommands.h"
#include "store/CommandArguments.h"

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace tolvane::store::cli {

const std::vector<Option>& IpHomeOptionList();
int RunIpHome(const std::filesystem::path& serverHome, const std::string& verb, const Arguments& arguments,
              std::ostream& out);

}  // namespace tolvane::store::cli
