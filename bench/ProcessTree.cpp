#include "ProcessTree.h"

#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace bench {
namespace {

// Parent of a process from /proc/PID/stat; the name field may hold blanks and parentheses.
pid_t ParentOf(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(text.substr(close + 1));
    char state = 0;
    pid_t parent = -1;
    rest >> state >> parent;
    return parent;
}

std::int64_t ResidentKib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6));
    }
    return 0;
}

}  // namespace

std::int64_t ResidentKibOfTree(pid_t root) {
    std::multimap<pid_t, pid_t> children;
    if (DIR* proc = opendir("/proc")) {
        while (const dirent* entry = readdir(proc)) {
            const std::string name = entry->d_name;
            if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
            children.emplace(ParentOf(name), static_cast<pid_t>(std::stol(name)));
        }
        closedir(proc);
    }
    std::int64_t total = 0;
    std::vector<pid_t> open{root};
    while (!open.empty()) {
        const pid_t pid = open.back();
        open.pop_back();
        total += ResidentKib(pid);
        const auto [first, last] = children.equal_range(pid);
        for (auto it = first; it != last; ++it) open.push_back(it->second);
    }
    return total;
}

}  // namespace bench
