// What a process holds, as the kernel reports it under /proc: for the soak test and the server
// benchmark, which watch the server's descriptors and memory.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace process_stats {

// Entries of /proc/PID/fd; -1 when it cannot be read.
int open_descriptors(pid_t pid);
// A "Vm..." line of /proc/PID/status in KiB (VmRSS, VmHWM); -1 when it is not there.
long status_kib(pid_t pid, const char* field);
// Resident KiB per mapped file (anonymous memory under "[anon]"), largest first.
std::vector<std::pair<long, std::string>> resident_by_mapping(pid_t pid);

}  // namespace process_stats
