#include "tests/soak/process_stats.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace soak {

int open_descriptors(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error);
    if (error) return -1;
    int count = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

long status_kib(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    const std::string wanted = std::string(field) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(wanted)) return std::stol(line.substr(wanted.size()));
    }
    return -1;
}

}  // namespace soak
