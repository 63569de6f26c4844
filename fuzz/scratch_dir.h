// The working directory of a fuzz target: every target runs in a scratch directory of its own,
// and the settings files live in memory (fuzz/memory_io.h): a save costs no system call, so a
// target runs thousands of inputs a second and the disk sees none of the churn.
#pragma once

namespace fuzz_support {

// Creates the scratch directory, makes it the working directory, removes it with its files
// when the process exits normally, and puts the settings files in memory. Standard output goes to
// /dev/null: the server's diagnostics would only slow the run (libFuzzer reports on standard
// error).
void enter_scratch_dir();

// Forgets every file in memory, so that every input starts from the default settings and a
// finding reproduces from its input alone.
void fresh_settings();

}  // namespace fuzz_support
