// The command line of ifc-client: global options, one command with its words, and the help
// text that documents all of it. The commands themselves are rows of the verb table
// (verbs.h); the parser, the help and the dispatch are built from it.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "client/tool/reply.h"
#include "client/tool/request.h"

namespace ifc_tool {

struct parsed_line {
    global_options options;
    std::optional<request> command;  // none: no command was given
};

// Parses args (without the program name), starting from defaults. On --help, --version or
// "help [COMMAND]" the text goes to out and the result is exit_status::ok without a line; on a
// usage error the result is exit_status::usage with a one-line message.
struct parse_result {
    std::optional<parsed_line> line;  // empty when the run should end with status
    int status = exit_status::ok;
    std::string error;
};
parse_result parse_arguments(const std::vector<std::string>& args, const global_options& defaults,
                             origin from, std::ostream& out);

// The whole help text, as --help prints it, or the help of one command.
std::string help_text(origin from = origin::command_line);

// The words that may stand at the end of args (the command line so far, without the program
// name), starting with current: commands, options, keys ("main_on="), colours, items.
std::vector<std::string> completions(const std::vector<std::string>& args,
                                     std::string_view current);

}  // namespace ifc_tool
