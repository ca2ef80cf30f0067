#pragma once

// The account options of "user add|set" and "group add|set", applied to the values the store
// writes.

#include "store/AccountCommands.h"
#include "store/AccountSettings.h"
#include "store/CommandArguments.h"

#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::store::cli {

const std::vector<Option>& AccountOptionList();
// The password the options give: read from standard input, empty for --no-password, none
// when they leave it as it is.
std::optional<std::string> PasswordOption(const Arguments& arguments, std::istream& in);
// Everything is checked before anything is written.
void ApplyAccountOptions(const Arguments& arguments, const std::optional<std::string>& password,
                         AccountValues& values);
AccountValues NewAccountValues();
// Applies the options to the account in `file` and writes it back.
int SetAccount(const std::filesystem::path& file, const Arguments& arguments, CommandStreams streams);

}  // namespace tolvane::store::cli
