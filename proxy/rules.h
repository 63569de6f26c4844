// Fault rules read from a JSON file (see docs/proxy.md for the format), and shown in words.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "proxy/rule.h"

namespace proxy {

struct parsed_rules {
    std::vector<rule> rules;
    // Empty when the rules are sound; else "SOURCE: rules[I]: field 'F': expected ..., got ...".
    std::string error;
    bool ok() const { return error.empty(); }
};

// source names the text in error messages (the file name).
parsed_rules parse_rules(std::string_view json_text, std::string_view source);
// Reads and parses the file at path.
parsed_rules load_rules(const std::string& path);

// One line per rule in words, for --check-rules.
std::string describe(const rule& r);

}  // namespace proxy
