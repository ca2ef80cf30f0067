#pragma once

#include <string>

namespace tolvane::net {

// Client and local path forms coincide on POSIX; these stay as named seams where the two meet.
std::string ToLocalPath(const std::string& clientPath);
std::string ToClientPath(const std::string& localPath);

// The folder a followed link leads to, as a folder path ending in '/'.
std::string LinkTargetToDirectory(const std::string& target);

// Target of a "*.lnk" entry that is a symbolic link (relative targets taken from the link's
// folder); empty when it is not one or cannot be read.
std::string ResolveShellLink(const std::string& linkPath);

// System name, release and machine, e.g. "Linux 6.1.0-18-amd64 x86_64".
std::string OsDescription();

}  // namespace tolvane::net
