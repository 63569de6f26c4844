// A command line typed at the prompt or read from a script, split into words as a shell
// would for simple cases: blanks separate words; single or double quotes keep blanks (and
// the other kind of quote) inside a word; a backslash takes the next character literally,
// except inside single quotes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ifc_tool {

// The words of line; nullopt when a quote is not closed.
std::optional<std::vector<std::string>> split_words(std::string_view line);

}  // namespace ifc_tool
