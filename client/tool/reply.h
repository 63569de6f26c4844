// What one command of ifc-client produces, in all three output forms, and its exit status.
// The command fills every form; the chosen one is printed.
#pragma once

#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "client/result.h"
#include "client/token_line.h"
#include "client/tool/exit_status.h"

namespace ifc_tool {

enum class output_format { table, json, raw };

struct reply {
    std::string table;                 // text for people, lines ending in '\n'
    nlohmann::ordered_json json;       // one object, or null when there is nothing to show
    std::vector<std::string> answers;  // the server's answers as received, for --raw
    int status = exit_status::ok;
    std::string error;  // one line for standard error when status is not ok (none: no failure)
    std::vector<std::string> warnings;  // lines for standard error; the status stays as it is
};

// A reply that only reports a failure.
reply failed(int status, std::string message);
reply failed(const ifc_client::error& e);

// Prints the reply in the chosen form to standard output, and its warnings and error line
// (each prefixed with "ifc-client: ") to standard error. Several raw answers are separated by
// a line feed; at a terminal the last one ends with one as well, so that the shell's prompt
// starts on a line of its own.
void print_reply(const reply& r, output_format format);

bool stdout_is_terminal();

// The items of a token line as a JSON object, in line order.
nlohmann::ordered_json json_of(std::span<const ifc_client::token> line);

}  // namespace ifc_tool
