// Settings files in memory under the file primitives: the I/O seam with the files in a map,
// flushes that cost nothing, and faults that can be injected. Fuzz targets run the store on it
// to reach thousands of inputs per second; the disk-backed behaviour is covered by the kill,
// full-disk and fault tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace memory_io {

// Makes the in-memory files the ones the primitives use, until uninstall(). The working
// directory is the memory's root: every relative name lives in it, "." is the directory.
void install();
void uninstall();

// Forgets every file and every planned fault.
void clear();
void put_file(std::string_view name, std::string_view bytes);
std::optional<std::string> file(std::string_view name);
// How many files there are (temporary files left behind count too).
std::size_t file_count();

// Fails the nth call (from 1, counted from now) of the seam, of any kind, with errno error.
void fail_call(int nth, int error);
// Calls made since the last clear() or fail_call().
int calls();

}  // namespace memory_io
