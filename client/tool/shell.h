// The ways ifc-client runs commands: one command from the command line (repeated with
// --interval), a batch of lines from standard input, or an interactive prompt.
#pragma once

#include <istream>
#include <string>

#include "client/tool/cli.h"
#include "client/tool/session.h"

// Runs the command, and with --interval again every interval until --count rounds are done
// or Ctrl-C is pressed. Prints each reply; error lines start with error_prefix. Returns the
// exit status of the last round (the first failing round ends the repetition).
int run_repeated(session& s, const global_options& options, const request& r,
                 const std::string& error_prefix = "");

// One command per line; empty lines and lines starting with '#' are skipped, "quit" or
// "exit" ends the batch. The first failing line ends the run: its status is the result.
int run_batch(session& s, const global_options& defaults, std::istream& in);

// Reads commands at a prompt with line editing and history until "quit" or end of input.
// A failing command is reported and the prompt continues; the result is 0.
int run_prompt(session& s, const global_options& defaults);
