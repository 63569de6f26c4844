// Module ether_parse: the command tables and the two dispatch operations.
#pragma once

#include <cstdint>

// Non-zero: ether_put_data prints "COMMAND END not found" and "not found".
extern std::int16_t deb_ether_parse;

// A GET handler writes its answer at buf (the start of the transfer buffer) and returns its
// length; a NUL may follow and is not sent.
using get_handler = int (*)(char* buf);
// A PUT handler receives its argument inside the transfer buffer and the argument length. It
// owns the argument and the byte after it (handlers store a NUL there) and sends nothing.
using put_handler = int (*)(char* arg, int len);

template <class Handler>
struct command_entry {
    const char* name;  // GET rows: the name followed by 20 spaces; PUT rows: the bare name
    Handler handler;
};

// Runs the GET command whose name (at most 20 characters, NUL-terminated, as it stands in
// the header's name field) matches; its answer length, or -1 when no command matches.
int ether_get_data(const char* name, char* buf);
// Runs the PUT command named in a payload "name NUL argument" of len >= 1 bytes.
// data[len] must be writable: the command stores a NUL there.
void ether_put_data(char* data, int len);
