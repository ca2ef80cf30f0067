#include "net/PlatformHelpers.h"

#include <filesystem>
#include <sys/utsname.h>
#include <system_error>

namespace tolvane::net {

std::string ToLocalPath(const std::string& clientPath) { return clientPath; }

std::string ToClientPath(const std::string& localPath) { return localPath; }

std::string LinkTargetToDirectory(const std::string& target) {
    if (target.empty() || target.back() == '/') return target;
    return target + '/';
}

std::string ResolveShellLink(const std::string& linkPath) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path link(linkPath);
    if (!fs::is_symlink(fs::symlink_status(link, error))) return {};
    fs::path target = fs::read_symlink(link, error);
    if (error) return {};
    if (target.is_relative()) target = link.parent_path() / target;
    return target.lexically_normal().string();
}

std::string OsDescription() {
    utsname names{};
    if (uname(&names) != 0) return "Unknown";
    return std::string(names.sysname) + " " + names.release + " " + names.machine;
}

}  // namespace tolvane::net
