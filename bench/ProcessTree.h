#pragma once

#include <cstdint>
#include <sys/types.h>

namespace bench {

struct TreeMemory {
    std::int64_t pssKib = 0;  // each shared page split among the processes that map it
    std::int64_t rssKib = 0;  // each process's resident pages in full, shared ones included
};

// Memory of a process and every process below it, from /proc/PID/smaps_rollup. Forking
// servers keep a process per session, so the whole tree is what the server costs; the sum of
// PSS counts a page shared by the sessions once, the sum of RSS once per process.
TreeMemory MemoryOfTree(pid_t root);

// Processor time (user and system) of a process and every process below it, the ended ones it
// has reaped included, in seconds.
double CpuSecondsOfTree(pid_t root);

// Descriptors a process holds and its soft limit on them; -1 where /proc does not say (a
// process of another user, for one not root).
int OpenDescriptors(pid_t pid);
long DescriptorLimit(pid_t pid);

// Processes and threads on the whole machine, and the most it may have (pid_max).
int TasksOnMachine();
int TaskLimit();

}  // namespace bench
