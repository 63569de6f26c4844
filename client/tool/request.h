// What one command line of ifc-client asks for: the global options (where the server is, how
// long to wait, the output form) and the command with its words.
#pragma once

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
    double timeout_seconds = protocol::wait_seconds;
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

}  // namespace ifc_tool
