// Whole text files for the programs beside the server: a bounded read (of a file, a pipe, or
// standard input for "-") and a write that replaces a file only once the new text is complete
// on the disk, so that a failed write never leaves half a document behind.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace ifc_tool {

struct text_file_result {
    std::optional<std::string> text;  // empty on failure
    std::string error;                // "cannot open x.json: No such file or directory"
};

// The whole of path ("-": standard input), at most limit bytes: a longer one is refused
// ("x.json is larger than LIMIT bytes").
text_file_result read_text_file(const std::string& path, std::size_t limit);

// Writes text as the whole content of path ("-": standard output): into a new file beside it,
// flushed to the disk, then renamed over path (a symbolic link: over the file it names). An
// empty result, or why it failed (the old file is then as it was).
std::string write_text_file(const std::string& path, const std::string& text);

}  // namespace ifc_tool
