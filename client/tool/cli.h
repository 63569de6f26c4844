// The command line of ifc-client: global options, one command with its words, and the help
// text that documents all of it. The commands themselves are rows of the verb table
// (verbs.h); the parser, the help and the dispatch are built from it.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "client/connection.h"
#include "client/tool/reply.h"
#include "protocol/protocol.h"

namespace ifc_tool {

struct global_options {
    std::string host = "127.0.0.1";
    int port = protocol::server_port;
    double timeout_seconds = 5;
    double wait_seconds = 10;  // for a server that is serving another client
    output_format format = output_format::table;
    double interval_seconds = 0;  // 0: run once
    int count = 0;                // rounds of --interval; 0: until interrupted
    bool force = false;           // send what the client would refuse

    ifc_client::endpoint endpoint() const;
};

// Where a command line was typed: messages name commands as the operator types them there.
enum class origin {
    command_line,  // also a batch: its lines are run as an "ifc-client ..." command would be
    prompt,
};

// The options of the document commands (export, diff, apply).
struct document_options {
    std::string output;    // export -o FILE; "" for standard output
    std::string name;      // export --name
    std::string note;      // export --note
    bool dry_run = false;  // apply --dry-run
    std::string only;      // diff, apply --only: sections, comma-separated
    std::string colours;   // diff, apply --colours: colours, comma-separated
};

struct request {
    std::string verb;                // the command: get, put, ping, status, ...
    std::string name;                // get and put: the server command's name
    int colour = 0;                  // targets, timing, valves
    std::vector<std::string> words;  // everything after that (diff: A and B; apply: DOC)
    document_options document;
    bool force = false;
    origin from = origin::command_line;

    // The command line that runs words: "ifc-client valves 3" or, at the prompt, "valves 3".
    std::string command_text(std::string_view words) const;
};

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
