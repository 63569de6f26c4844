// ifc-settings export and write: the settings document of a server's settings files, and the
// settings files of a document, for work without a controller (a backup taken from the files,
// the files of a replacement controller prepared from a document).
#pragma once

#include <string>
#include <vector>

namespace settings_tool {

// The exit statuses of ifc-settings, as its --help documents them.
namespace exit_code {
inline constexpr int ok = 0;  // done; check: the file is sound
inline constexpr int usage = 1;
inline constexpr int unreadable = 2;    // a file cannot be read (or written), or its table told
inline constexpr int not_sound = 3;     // check: not sound; export, write: a file is not usable
inline constexpr int bad_document = 4;  // write: the document is refused
}  // namespace exit_code

struct export_request {
    std::vector<std::string> paths;  // directories holding the files, or the files themselves
    std::string output;              // "" or "-": standard output
    std::string name;
    std::string note;
};
// Prints the document (or writes it to output), or says why not; the exit status.
int run_export(const export_request& request);

struct write_request {
    std::string document;  // a file, or "-" for standard input
    std::string dir;
    bool json = false;
};
// Writes the settings files of the document into dir, on top of the files there (or the
// default images where there are none), each replaced whole and atomically as the server saves
// it; says what it wrote; the exit status.
int run_write(const write_request& request);

}  // namespace settings_tool
