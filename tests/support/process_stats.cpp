#include "tests/support/process_stats.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>

namespace process_stats {

namespace {

std::string proc_file(pid_t pid, const char* name) {
    return "/proc/" + std::to_string(pid) + "/" + name;
}

}  // namespace

int open_descriptors(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator it(proc_file(pid, "fd"), error);
    if (error) return -1;
    int count = 0;
    for (; it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

long status_kib(pid_t pid, const char* field) {
    std::ifstream status(proc_file(pid, "status"));
    const std::string wanted = std::string(field) + ":";
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(wanted)) return std::stol(line.substr(wanted.size()));
    }
    return -1;
}

std::vector<std::pair<long, std::string>> resident_by_mapping(pid_t pid) {
    std::ifstream smaps(proc_file(pid, "smaps"));
    std::map<std::string, long> by_name;
    std::string current;
    for (std::string line; std::getline(smaps, line);) {
        if (line.empty()) continue;
        if (std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') < 16) {
            const std::size_t path = line.find_first_of("/[", 20);
            current = path == std::string::npos ? "[anon]" : line.substr(path);
        } else if (line.starts_with("Rss:")) {
            by_name[current] += std::stol(line.substr(4));
        }
    }
    std::vector<std::pair<long, std::string>> list;
    for (const auto& [name, kib] : by_name) {
        if (kib > 0) list.emplace_back(kib, name);
    }
    std::sort(list.rbegin(), list.rend());
    return list;
}

}  // namespace process_stats
