#pragma once

// The "show" output of the account commands: one "  label:  value" line per setting.

#include "store/AccountSettings.h"

#include <ostream>
#include <string>
#include <string_view>

namespace tolvane::store::cli {

void ShowLine(std::ostream& out, std::string_view label, std::string_view value);
std::string OnOff(bool on);
std::string OrNone(std::string_view text);
void ShowAccount(std::ostream& out, const AccountValues& values);

}  // namespace tolvane::store::cli
