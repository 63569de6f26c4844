// Module sim_main: the file primitives under the settings files.
#pragma once

#include <cstddef>
#include <span>

// 0 when the file cannot be opened (buf untouched); -1 when it is not a regular file (a
// FIFO, device or directory: never read from) or a read fails; otherwise the count of bytes
// read, at most size.
int hfp_load_data2(const char* path, void* buf, int size);
// Stores len bytes as the whole content of path; 0 when they have reached the disk, -1 on
// failure with errno telling why. A failed save leaves the previous file as it was: the bytes
// go to a temporary file of a name no other process uses, in the same directory, which is
// flushed and then renamed over the file. A symbolic link is followed: the file it names is
// replaced and the link stays. Only a regular file (or none) is ever replaced: anything else
// of that name (a FIFO, a device, a directory) is refused with EINVAL.
int hfp_save_data2(const char* path, const void* data, int len);
// Appends len bytes to "cgi.log" in the working directory; silent on failure.
void append_log(const void* data, int len);

// What loading a whole file image found.
enum class image_status {
    complete,     // buf is filled from the file (a longer file: its first buf.size() bytes)
    missing,      // no such file; buf untouched
    short_file,   // the file ends before buf.size() bytes; count of them read into buf
    unopenable,   // the file could not be opened for another reason; buf untouched
    not_regular,  // a FIFO, socket, device or directory of that name; buf untouched
    unreadable,   // a read failed; buf holds an unknown part of the file
};
struct image_load {
    image_status status;
    int count;  // bytes read into buf
    int error;  // errno of the failure (unopenable, unreadable)
};
// Reads the first buf.size() bytes of path, as hfp_load_data2 does, but tells a missing file
// from one that is there and cannot be read. Never blocks on a FIFO or device: the file is
// opened without waiting and checked to be a regular file before anything is read.
image_load load_file_image(const char* path, std::span<std::byte> buf);

// Removes the temporary files that saves of path left behind when their process died: those
// of processes that no longer run (and of this one: it has not saved yet), beside the file
// the path resolves to. Files of a live process are left alone.
void remove_stale_temp_files(const char* path);
