#pragma once

// The two shapes of one account: what a session loads at login, and what the
// account editor saves.

#include "store/DirectoryRules.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::store {

inline constexpr std::string_view kAllIpHomes = ">> All IP Homes <<";
inline constexpr int kAccountUsersWithoutLimit = 35000;
inline constexpr std::string_view kDefaultLogFilenameMask = "%DATE-%TIME-%USER-%IP";

// The per-session copy of an account's settings, filled by LoadAccountSettings.
struct AccountSettings {
    std::string password;
    std::string ipHome{kAllIpHomes};  // the one local address the account may log in at
    bool showRelativePath = false;
    int timeout = -1;  // seconds of idle time; -1: none
    std::string loginMessage;
    bool disableAccount = false;
    int maxUsers = kAccountUsersWithoutLimit;  // sessions of this account at once
    bool allow = false;                        // the per-address limit is in force
    int multipleLogins = 1;                    // sessions of this account from one address
    bool hideHidden = false;
    std::string tlsPolicy;  // off, allowed, login or data; anything else: as the IP home says
    bool ratioEnabled = false;
    std::string ratioType;
    int upload = 0;
    int download = 0;
    std::int32_t credit = 0;
    std::string speedLimitMode = "-1";  // "Static", "Dynamic" or anything else for none
    double sendingSpeed = 0.0;          // kb/s
    double receivingSpeed = 0.0;
    double listingSpeed = 0.0;
    std::filesystem::path dynamicRuleFile;
    bool logEnabled = false;
    std::string logFilenameMask{kDefaultLogFilenameMask};
    bool logFtpCommands = false;
    bool logFtpReplies = false;
    bool logSystemMessages = false;
};

enum class SpeedLimitMode { None, Static, Dynamic };

// What the account editor saves into a user or group file. Numeric fields are
// kept as the texts the administrator typed; an empty text is saved empty.
struct AccountValues {
    std::string password;
    std::string rootDir;
    std::vector<AccessingRule> accessingRules;
    bool disableAccount = false;
    bool hideHidden = false;
    bool showRelativePath = false;
    bool allow = false;
    std::string tlsPolicy;  // off, allowed, login or data; empty: as the IP home says
    std::string maxUsers;
    std::string loginMessage;
    std::string timeoutMinutes;  // saved as seconds; 0 or empty saves -1 (none)
    std::string multipleLogins;
    bool ratioEnabled = false;
    std::string ratioType;
    std::string upload;
    std::string download;
    std::string credit;
    std::vector<std::string> ipAccessRules;  // "<type>:<pattern>"
    bool logEnabled = false;
    std::string filenameMask;
    bool logFtpCommands = false;
    bool logFtpReplies = false;
    bool logSystemMessages = false;
    std::string receivingSpeed;
    std::string sendingSpeed;
    std::string listingSpeed;
    SpeedLimitMode speedLimitMode = SpeedLimitMode::None;
    std::vector<std::string> dynamicSpeedLimitRules;  // "<day>-<from>-<till>-<recv>,<send>,<list>"
};

}  // namespace tolvane::store
