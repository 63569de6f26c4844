// ifc-client: the command-line client of the weft-insertion server.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "client/tool/cli.h"
#include "client/tool/session.h"
#include "client/tool/shell.h"

namespace {

// "ifc-client __complete WORD... CURRENT": the candidates for the word being typed, one per
// line, for the shell's completion (see completion/ifc-client.bash).
int print_completions(const std::vector<std::string>& args) {
    if (args.empty()) return 0;
    const std::vector<std::string> before(args.begin(), args.end() - 1);
    for (const std::string& word : ifc_tool::completions(before, args.back()))
        std::cout << word << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ifc_tool;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "__complete") {
        return print_completions({args.begin() + 1, args.end()});
    }
    const parse_result parsed =
        parse_arguments(args, global_options{}, origin::command_line, std::cout);
    if (!parsed.line) {
        if (parsed.status != exit_status::ok) std::cerr << "ifc-client: " << parsed.error << '\n';
        return parsed.status;
    }
    const global_options& options = parsed.line->options;
    session s(options.endpoint());
    if (parsed.line->command) return run_repeated(s, options, *parsed.line->command);
    if (::isatty(STDIN_FILENO)) return run_prompt(s, options);
    return run_batch(s, options, std::cin);
}
