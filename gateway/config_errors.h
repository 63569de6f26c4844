// The option parser's errors about the config file, said with the file and line they come
// from: "/etc/ifc-gateway.conf:3: unknown option "polll"; did you mean --poll?".
#pragma once

#include <CLI/CLI.hpp>

#include <istream>
#include <string>
#include <vector>

namespace gateway {

// One "name = value" line (or a bare "name", a flag) of a config file.
struct config_entry {
    std::string name;
    int line = 0;
};

// The entries of a config file, read as the option parser reads them: blanks around names
// are dropped; empty lines, lines of fewer than three characters and lines starting with '#'
// or ';' are skipped. A section header ("[hall]") is an entry named after it, in brackets.
std::vector<config_entry> read_config_entries(std::istream& file);

// The message for a parse error: e.what(), with the config file's name and the line of the
// entry at fault when the error comes from the file (args: the command line, whose options
// win over the file's).
std::string describe_parse_error(const CLI::App& app, const std::vector<std::string>& args,
                                 const CLI::ParseError& e);

}  // namespace gateway
