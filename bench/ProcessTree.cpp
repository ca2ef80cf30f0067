#include "ProcessTree.h"

#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace bench {
namespace {

// The fields of /proc/PID/stat after the name, which may hold blanks and parentheses.
std::vector<std::string> StatFields(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string text;
    std::getline(stat, text);
    const auto close = text.rfind(')');
    std::vector<std::string> fields;
    if (close == std::string::npos) return fields;
    std::istringstream rest(text.substr(close + 1));
    for (std::string field; rest >> field;) fields.push_back(field);
    return fields;
}

pid_t ParentOf(const std::string& pid) {
    const auto fields = StatFields(pid);
    return fields.size() > 1 ? static_cast<pid_t>(std::stol(fields[1])) : -1;
}

// utime, stime, and for the root also cutime and cstime: fields 14 to 17 of stat.
double CpuSeconds(pid_t pid, bool withReaped) {
    const auto fields = StatFields(std::to_string(pid));
    if (fields.size() < 15) return 0;
    double ticks = std::stod(fields[11]) + std::stod(fields[12]);
    if (withReaped) ticks += std::stod(fields[13]) + std::stod(fields[14]);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::multimap<pid_t, pid_t> ChildrenByParent() {
    std::multimap<pid_t, pid_t> children;
    if (DIR* proc = opendir("/proc")) {
        while (const dirent* entry = readdir(proc)) {
            const std::string name = entry->d_name;
            if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
            children.emplace(ParentOf(name), static_cast<pid_t>(std::stol(name)));
        }
        closedir(proc);
    }
    return children;
}

std::vector<pid_t> Tree(pid_t root) {
    const auto children = ChildrenByParent();
    std::vector<pid_t> tree, open{root};
    while (!open.empty()) {
        const pid_t pid = open.back();
        open.pop_back();
        tree.push_back(pid);
        const auto [first, last] = children.equal_range(pid);
        for (auto it = first; it != last; ++it) open.push_back(it->second);
    }
    return tree;
}

void AddMemory(pid_t pid, TreeMemory& total) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string line;
    while (std::getline(rollup, line)) {
        if (line.rfind("Rss:", 0) == 0) total.rssKib += std::stoll(line.substr(4));
        else if (line.rfind("Pss:", 0) == 0) total.pssKib += std::stoll(line.substr(4));
    }
}

}  // namespace

TreeMemory MemoryOfTree(pid_t root) {
    TreeMemory total;
    for (const pid_t pid : Tree(root)) AddMemory(pid, total);
    return total;
}

double CpuSecondsOfTree(pid_t root) {
    double total = 0;
    for (const pid_t pid : Tree(root)) total += CpuSeconds(pid, true);
    return total;
}

int OpenDescriptors(pid_t pid) {
    DIR* folder = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!folder) return -1;
    int count = 0;
    while (const dirent* entry = readdir(folder))
        if (entry->d_name[0] != '.') ++count;
    closedir(folder);
    return count;
}

long DescriptorLimit(pid_t pid) {
    std::ifstream limits("/proc/" + std::to_string(pid) + "/limits");
    const std::string name = "Max open files";
    for (std::string line; std::getline(limits, line);) {
        if (line.rfind(name, 0) != 0) continue;
        std::istringstream fields(line.substr(name.size()));
        std::string soft;
        fields >> soft;
        return soft == "unlimited" ? -1 : std::stol(soft);
    }
    return -1;
}

// The fourth field of /proc/loadavg: "running/total".
int TasksOnMachine() {
    std::ifstream load("/proc/loadavg");
    std::string field;
    for (int i = 0; i < 4; ++i) load >> field;
    const auto slash = field.find('/');
    return slash == std::string::npos ? 0 : std::stoi(field.substr(slash + 1));
}

int TaskLimit() {
    std::ifstream limit("/proc/sys/kernel/pid_max");
    int most = 32768;
    limit >> most;
    return most;
}

}  // namespace bench
