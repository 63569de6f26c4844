// Bytes from the wire shown as text: whole in the journal (text when printable, hex when not),
// quoted with escapes in the short descriptions of what a side sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/escape.h"

namespace proxy {

// Every byte is printable ASCII (0x20 to 0x7e).
bool is_printable(std::string_view bytes);
// Two lower-case hex digits per byte.
std::string to_hex(std::string_view bytes);
// In double quotes, escaped for people (the shared escaper).
using ifc_tool::quoted;
// Text from a file or a peer, shown on a terminal: valid UTF-8 is kept, but every control
// character (C0, DEL and C1) and every byte that is not part of valid UTF-8 is written as \xNN,
// so that nothing in it can move the cursor, clear the screen or break the line.
std::string shown_text(std::string_view text);
// "1 byte", "3 bytes": n and the word, with an s unless n is 1.
std::string counted(long long n, std::string_view word);

}  // namespace proxy
