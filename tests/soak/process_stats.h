// What a process holds, as the kernel reports it under /proc.
#pragma once

#include <sys/types.h>

namespace soak {

// Entries of /proc/PID/fd; -1 when it cannot be read.
int open_descriptors(pid_t pid);
// A "Vm..." line of /proc/PID/status in KiB (VmRSS, VmHWM); -1 when it is not there.
long status_kib(pid_t pid, const char* field);

}  // namespace soak
