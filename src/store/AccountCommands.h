#pragma once

// The account commands of the daemon ("iphome", "user", "group"), for machines
// without a desktop. They change the database only through the store's
// writers, so an account they write is byte-identical to the editor's.

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace tolvane::store {

struct CommandStreams {
    std::istream& in;  // the password with --password-stdin
    std::ostream& out;
    std::ostream& err;
};

// `words` starts with "iphome", "user" or "group"; returns the exit code.
int RunAccountCommand(const std::filesystem::path& serverHome, const std::vector<std::string>& words,
                      CommandStreams streams);

}  // namespace tolvane::store
