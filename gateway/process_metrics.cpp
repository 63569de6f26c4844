#include "gateway/process_metrics.h"

#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "gateway/version.h"

namespace gateway {

namespace {

struct process_figures {
    std::optional<double> cpu_seconds;
    std::optional<double> resident_bytes;
    std::optional<double> virtual_bytes;
    std::optional<double> start_time_seconds;  // since the epoch
    std::optional<double> open_fds;
    std::optional<double> max_fds;
};

// The fields of /proc/self/stat after the command name (which is in parentheses and may hold
// blanks): the first one is the state, field 3 of proc(5).
std::vector<std::string> stat_fields() {
    std::ifstream file("/proc/self/stat");
    std::string line;
    if (!std::getline(file, line)) return {};
    const auto close = line.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream rest(line.substr(close + 1));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;)
        fields.push_back(field);
    return fields;
}

std::optional<double> number(const std::vector<std::string>& fields, std::size_t proc_field) {
    const std::size_t at = proc_field - 3;
    if (at >= fields.size()) return std::nullopt;
    unsigned long long value = 0;
    const std::string& text = fields[at];
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return static_cast<double>(value);
}

// The system's boot time in seconds since the epoch ("btime" of /proc/stat).
std::optional<double> boot_time() {
    std::ifstream file("/proc/stat");
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with("btime ")) {
            try {
                return std::stod(line.substr(6));
            } catch (const std::exception&) {
                return std::nullopt;
            }
        }
    }
    return std::nullopt;
}

process_figures read_figures() {
    process_figures figures;
    const auto fields = stat_fields();
    const long ticks = ::sysconf(_SC_CLK_TCK);
    const long page = ::sysconf(_SC_PAGESIZE);
    const auto user = number(fields, 14), system = number(fields, 15);
    if (user && system && ticks > 0) figures.cpu_seconds = (*user + *system) / ticks;
    if (const auto pages = number(fields, 24); pages && page > 0) {
        figures.resident_bytes = *pages * page;
    }
    figures.virtual_bytes = number(fields, 23);
    const auto started = number(fields, 22);
    const auto boot = boot_time();
    if (started && boot && ticks > 0) figures.start_time_seconds = *boot + *started / ticks;
    std::error_code failed;
    std::filesystem::directory_iterator fds("/proc/self/fd", failed);
    if (!failed) {
        double open = 0;
        for (auto it = fds; it != std::filesystem::directory_iterator(); it.increment(failed)) {
            if (failed) break;
            ++open;
        }
        if (!failed) figures.open_fds = open;
    }
    if (rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        figures.max_fds = static_cast<double>(limit.rlim_cur);
    }
    return figures;
}

void append_number(std::string& out, double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, ec == std::errc() ? end : text);
}

void append_family(std::string& out, std::string_view name, std::string_view type,
                   std::string_view help, std::optional<double> value) {
    if (!value) return;
    out.append("# HELP ").append(name).append(" ").append(help).append("\n# TYPE ");
    out.append(name).append(" ").append(type).append("\n").append(name).append(" ");
    append_number(out, *value);
    out += '\n';
}

}  // namespace

void append_gateway_metrics(std::string& out) {
    out.append(
        "# HELP ifc_gateway_build_info The gateway's version (always 1)\n"
        "# TYPE ifc_gateway_build_info gauge\n"
        "ifc_gateway_build_info{version=\"");
    out.append(gateway_version()).append("\"} 1\n");
    const process_figures f = read_figures();
    append_family(out, "process_cpu_seconds_total", "counter",
                  "Total user and system CPU time spent in seconds.", f.cpu_seconds);
    append_family(out, "process_resident_memory_bytes", "gauge", "Resident memory size in bytes.",
                  f.resident_bytes);
    append_family(out, "process_virtual_memory_bytes", "gauge", "Virtual memory size in bytes.",
                  f.virtual_bytes);
    append_family(out, "process_start_time_seconds", "gauge",
                  "Start time of the process since unix epoch in seconds.", f.start_time_seconds);
    append_family(out, "process_open_fds", "gauge", "Number of open file descriptors.", f.open_fds);
    append_family(out, "process_max_fds", "gauge", "Maximum number of open file descriptors.",
                  f.max_fds);
}

}  // namespace gateway
