#include "ftp/LoginState.h"

#include <utility>

namespace tolvane::ftp {

void LoginState::LoadSettings(std::filesystem::path source) {
    settingsSource = std::move(source);
    account = store::LoadAccountSettings(settingsSource, accountFiles.settingsFile);
}

std::filesystem::path LoginState::OwnSettingsFile() const {
    return accountFiles.settingsFile.empty() ? accountFiles.accountFile : accountFiles.settingsFile;
}

std::string LoginState::UserInformation(std::string_view key) const {
    return store::ReadAccountKey(accountFiles, "Userinformation", key);
}

std::vector<std::string> LoginState::AccessingRules() const {
    if (accountFiles.accountFile.empty()) return {};
    return store::ReadAccountList(accountFiles, "Userinformation", "AccessingRules", 1);
}

}  // namespace tolvane::ftp
