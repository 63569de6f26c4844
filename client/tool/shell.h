// The ways ifc-client runs commands: one command from the command line (repeated with
// --interval), a batch of lines from standard input, or an interactive prompt.
#pragma once

#include <istream>
#include <string>

#include "client/tool/cli.h"
#include "client/tool/session.h"

namespace ifc_tool {

// Runs the command, and with --interval again every interval until --count rounds are done
// or Ctrl-C is pressed; a failed round is reported with its time and the next one goes on.
// Prints each reply; error lines start with error_prefix. Returns the exit status of the last
// round that failed (0 when none did); a usage error ends the repetition at once.
int run_repeated(session& s, const global_options& options, const request& r,
                 const std::string& error_prefix = "");

// One command per line; empty lines and lines starting with '#' are skipped, "quit" or
// "exit" ends the batch. The first failing line ends the run: its status is the result.
int run_batch(session& s, const global_options& defaults, std::istream& in);

// Reads commands at a prompt with line editing, Tab completion and history until "quit" or
// end of input. A failing command is reported and the prompt continues; the result is 0.
int run_prompt(session& s, const global_options& defaults);

}  // namespace ifc_tool
