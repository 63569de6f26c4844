// Module sim_main: the file primitives under the settings files.
#pragma once

#include <cstddef>
#include <span>

// 0 when the file cannot be opened (buf untouched); otherwise the result of reading at most
// size bytes: the count read, or -1 on a read error.
int hfp_load_data2(const char* path, void* buf, int size);
// Stores len bytes as the whole content of path; 0 when they have reached the disk, -1 on
// failure. A failed save leaves the previous file as it was: the bytes go to a temporary file
// in the same directory, which is flushed and then renamed over path.
int hfp_save_data2(const char* path, const void* data, int len);
// Appends len bytes to "cgi.log" in the working directory; silent on failure.
void append_log(const void* data, int len);

// What loading a whole file image found.
enum class image_status {
    complete,    // buf is filled from the file (a longer file: its first buf.size() bytes)
    missing,     // no such file; buf untouched
    short_file,  // the file ends before buf.size() bytes; count of them read into buf
    unopenable,  // the file could not be opened for another reason; buf untouched
    unreadable,  // a read failed; buf holds an unknown part of the file
};
struct image_load {
    image_status status;
    int count;  // bytes read into buf
};
// Reads the first buf.size() bytes of path, as hfp_load_data2 does, but tells a missing file
// from one that is there and cannot be read.
image_load load_file_image(const char* path, std::span<std::byte> buf);
