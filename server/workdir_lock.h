// One server per working directory: two servers saving the same settings files would undo
// each other's changes.
#pragma once

// Takes an exclusive lock on the working directory itself (no file is created for it), held
// until the process ends, then removes the temporary files that dead processes left beside
// the settings files. false, after one line on standard error naming the directory, when
// another process holds the lock or it cannot be taken.
bool lock_working_directory();
