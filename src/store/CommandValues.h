#pragma once

// The checks of single option values: each returns the value as it is stored, or ends the
// command with a usage error (or a failure, for names and folders that cannot be used).

#include "store/DirectoryRules.h"

#include <string>
#include <string_view>
#include <vector>

namespace tolvane::store::cli {

// Names become file names: one entry of its folder, with room for the extension.
void CheckEntryName(std::string_view kind, std::string_view name, std::string_view extension);
// One to nine decimal digits.
bool IsDigits(std::string_view text);
std::string Count(std::string_view option, std::string_view text);
std::string Speed(std::string_view option, std::string_view text);
std::vector<std::string> Split(std::string_view text, char separator);
// An absolute folder that exists, with a trailing '/'.
std::string ExistingRoot(std::string_view path);
AccessingRule Rule(std::string_view text);  // DIR:LETTERS
std::string CheckedIpRule(std::string_view text);
// A short or a stored ratio type, returned as stored.
std::string RatioType(std::string_view text);
std::string SpeedRule(std::string_view text);

}  // namespace tolvane::store::cli
