#pragma once

// The account commands of the daemon ("iphome", "user", "group"), for machines
// without a desktop. They change the database only through the store's
// writers, so an account they write is byte-identical to the editor's.

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "store/AccountSettings.h"

namespace tolvane::store {

inline constexpr int kCommandSucceeded = 0;
inline constexpr int kCommandFailed = 1;
inline constexpr int kCommandMisused = 2;

struct CommandStreams {
    std::istream& in;  // the password with --password-stdin
    std::ostream& out;
    std::ostream& err;
};

// `words` starts with "iphome", "user" or "group"; returns the exit code.
int RunAccountCommand(const std::filesystem::path& serverHome, const std::vector<std::string>& words,
                      CommandStreams streams);

// The values a save would have to write to reproduce the file's editor-owned
// keys, read the way the editor reads them.
AccountValues ReadAccountValues(const std::filesystem::path& file);

}  // namespace tolvane::store
