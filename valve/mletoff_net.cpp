#include "valve/mletoff_net.h"

#include <cstring>

#include "lib/diag.h"

// The text up to its first NUL, as one line: control bytes are escaped, so that a client's
// text can never make a line of its own in the log.
int MLETOFF_set_btnstat(char* arg, int len) {
    arg[len] = '\0';  // the byte after the argument belongs to the server
    diag::out_line_escaped(arg);
    return static_cast<int>(std::strlen(arg));
}
