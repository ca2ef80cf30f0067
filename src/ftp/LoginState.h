#pragma once

#include "store/AccountDatabase.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tolvane::ftp {

// Where a session stands in its login and the account it loaded for it. Only the session's
// worker reads and writes it.
struct LoginState {
    bool loggedIn = false;
    // USER named an account that a following PASS may log in with.
    bool userAccepted = false;
    // The session holds a place in its IP home's user count.
    bool countedAsUser = false;
    store::AccountFiles accountFiles;
    // The file the settings were last loaded from; the session credit is written back there.
    std::filesystem::path settingsSource;
    store::AccountSettings account;

    // Loads the account's settings with `source` as the file of everything but the speed keys.
    void LoadSettings(std::filesystem::path source);
    // The group file for a group member, else the account file.
    std::filesystem::path OwnSettingsFile() const;
    std::string UserInformation(std::string_view key) const;
    std::vector<std::string> AccessingRules() const;
};

}  // namespace tolvane::ftp
