// The working directory of a fuzz target: the settings files are opened by relative name, so
// every target runs in a scratch directory of its own, on a memory file system where there is
// one (a save's flushes then cost nothing and the disk sees none of the churn).
#pragma once

namespace fuzz_support {

// Creates the scratch directory, makes it the working directory, and removes it with its
// files when the process exits normally. Standard output goes to /dev/null: the server's
// diagnostics would only slow the run (libFuzzer reports on standard error).
void enter_scratch_dir();

// Removes both settings files, so that every input starts from the default settings and a
// finding reproduces from its input alone.
void fresh_settings();

}  // namespace fuzz_support
