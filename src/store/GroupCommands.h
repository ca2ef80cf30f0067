#pragma once

// "tolvaned group list|add|show|remove|set".

#include "store/AccountCommands.h"
#include "store/CommandArguments.h"

#include <filesystem>
#include <ostream>
#include <string>

namespace tolvane::store::cli {

int RunGroup(const std::filesystem::path& serverHome, const std::string& verb, const Arguments& arguments,
             CommandStreams streams);

}  // namespace tolvane::store::cli
