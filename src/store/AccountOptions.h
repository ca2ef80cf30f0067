#pragma once

// The account options of "user add|set" and "group add|set", applied to the values the store
// writes.

#include "store/AccountCommands.h"
#include "store/AccountSettings.h"
#include "store/CommandArguments.h"

#include <filesystem>
#include <istream>
#include <vector>

namespace tolvane::store::cli {

const std::vector<Option>& AccountOptionList();
// Everything is checked before anything is written.
void ApplyAccountOptions(const Arguments& arguments, std::istream& in, AccountValues& values);
AccountValues NewAccountValues();
// Applies the options to the account in `file` and writes it back.
int SetAccount(const std::filesystem::path& file, const Arguments& arguments, CommandStreams streams);

}  // namespace tolvane::store::cli
