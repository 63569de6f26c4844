// A settings file read whole, as ifc-settings reads every file it is given: never held up by
// a FIFO or a device of that name (only a regular file is read), never more than any settings
// file can be.
#pragma once

#include <optional>
#include <string>

namespace settings_tool {

// Far above both tables: anything larger is not a settings file.
inline constexpr std::size_t largest_file = 1 << 20;

struct whole_file {
    std::optional<std::string> bytes;  // empty when the file cannot be read
    std::string error;                 // "cannot open x.set: No such file or directory"
    bool missing = false;              // there is no file of that name
};

whole_file read_whole(const std::string& path);

}  // namespace settings_tool
