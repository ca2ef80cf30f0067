#include "store/ServerHome.h"

#include <cstdlib>
#include <sys/resource.h>

namespace tolvane::store {

std::filesystem::path DefaultServerHome() {
    if (const char* home = std::getenv("TOLVANE_HOME"); home && *home) return home;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return std::filesystem::path(data) / "tolvane";
    const char* user = std::getenv("HOME");
    return std::filesystem::path(user && *user ? user : ".") / ".local" / "share" / "tolvane";
}

long RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    return static_cast<long>(limit.rlim_cur);
}

}  // namespace tolvane::store
