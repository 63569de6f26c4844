// The command line of ifc-client: global options, one command with its words, and the help
// text that documents all of it.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client/tool/reply.h"

struct global_options {
    std::string host = "127.0.0.1";
    int port = 9002;
    double timeout_seconds = 5;
    output_format format = output_format::table;
    double interval_seconds = 0;  // 0: run once
    int count = 0;                // rounds of --interval; 0: until interrupted

    ifc_client::endpoint endpoint() const;
};

struct request {
    std::string verb;                // the command: get, put, ping, status, ...
    std::string name;                // get and put: the server command's name
    int colour = 0;                  // targets, timing, valves
    std::vector<std::string> words;  // everything after that
};

struct parsed_line {
    global_options options;
    std::optional<request> command;  // none: no command was given
};

// Parses args (without the program name), starting from defaults. On --help the help text
// goes to out and the result is exit_status::ok without a line; on a usage error the result
// is exit_status::usage with a one-line message.
struct parse_result {
    std::optional<parsed_line> line;  // empty when the run should end with status
    int status = exit_status::ok;
    std::string error;
};
parse_result parse_arguments(const std::vector<std::string>& args, const global_options& defaults,
                             std::ostream& out);

// The whole help text, as --help prints it.
std::string help_text();
