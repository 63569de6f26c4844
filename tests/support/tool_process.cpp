#include "tests/support/tool_process.h"

#include "tests/support/files.h"
#include "tests/support/spawned_program.h"

namespace test_support {

tool_run run_tool(const std::string& program, const std::vector<std::string>& args,
                  std::string_view stdin_text, std::chrono::milliseconds limit) {
    // A history file or anything else of the user's must not be touched.
    const temp_dir home;
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    run_options options;
    options.environment = {"HOME=" + home.path()};
    options.stdin_text = std::string(stdin_text);
    options.limit = limit;
    const finished_program run = run_program(argv, options);
    return tool_run{run.status, run.out, run.err};
}

tool_run run_client(std::uint16_t port, const std::vector<std::string>& args,
                    std::string_view stdin_text) {
    std::vector<std::string> all{"--port", std::to_string(port)};
    all.insert(all.end(), args.begin(), args.end());
    return run_tool(IFC_CLIENT_PATH, all, stdin_text);
}

tool_run run_settings_tool(const std::vector<std::string>& args) {
    return run_tool(IFC_SETTINGS_PATH, args);
}

std::vector<std::string> lines_of(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        lines.emplace_back(text.substr(pos, end == std::string_view::npos ? end : end - pos));
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return lines;
}

}  // namespace test_support
