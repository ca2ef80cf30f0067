#pragma once

#include <cstdint>
#include <sys/types.h>

namespace bench {

// Resident memory of a process and every process below it, from /proc, in KiB. Forking servers
// keep a process per session, so the whole tree is what the server costs.
std::int64_t ResidentKibOfTree(pid_t root);

// Processor time (user and system) of a process and every process below it, the ended ones it
// has reaped included, in seconds.
double CpuSecondsOfTree(pid_t root);

}  // namespace bench
