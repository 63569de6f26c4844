// The server's diagnostics on standard output and standard error: every line the server
// prints goes through here.
#pragma once

#include <string_view>

namespace diag {

// Standard output, buffered until flush_out() as stdio buffers it.
void out(std::string_view text);
// text and a line end, as puts writes it.
void out_line(std::string_view text);
// text with every control byte (below 0x20, and 0x7f) written as \xNN, and a line end: text
// that came from a client is one line of the log, whatever it holds.
void out_line_escaped(std::string_view text);
[[gnu::format(printf, 1, 2)]] void out_printf(const char* format, ...);
void flush_out();

// Standard error, unbuffered.
void err(std::string_view text);
[[gnu::format(printf, 1, 2)]] void err_printf(const char* format, ...);
// "what: <the text of errno>" and a line end, as perror writes it.
void err_perror(const char* what);

}  // namespace diag
