#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

namespace tolvane::control {

// `tolvaned ctl`: sends one request to the server that serves a home and prints its answer.
class ControlClient {
public:
    // The home's control socket when it answers; else the system service's home when its socket
    // answers (an administrator's `sudo tolvaned ctl` reaches the service); else `home`.
    static std::filesystem::path HomeToAdminister(const std::filesystem::path& home, bool homeGiven);

    // Whether a running server answers on the home's control socket.
    static bool Serves(const std::filesystem::path& home);

    // `arguments` are the words after "ctl". Returns the exit code: 0 done, 1 refused or no
    // server reached, 2 a usage error.
    static int Run(const std::filesystem::path& home, const std::vector<std::string>& arguments, std::ostream& out,
                   std::ostream& err);
};

}  // namespace tolvane::control
