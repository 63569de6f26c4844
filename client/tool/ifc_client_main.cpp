// ifc-client: the command-line client of the weft-insertion server.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "client/tool/cli.h"
#include "client/tool/session.h"
#include "client/tool/shell.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const parse_result parsed = parse_arguments(args, global_options{}, std::cout);
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
