// Fault rules read from a JSON file (see docs/proxy.md for the format), and shown in words.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "proxy/rule.h"

namespace proxy {

// The bounds of a rules file, each refused with its own message before the file is used: a
// file is a short list of rules, and one that is far bigger or deeper is a mistake.
inline constexpr std::size_t max_rules_file_bytes = 1024 * 1024;
inline constexpr std::size_t max_rules = 1000;
// Values nested deeper than this (a sound file goes four deep) are refused while the file is
// read, before any of it is used or shown.
inline constexpr int max_rules_nesting = 32;

struct parsed_rules {
    std::vector<rule> rules;
    // Empty when the rules are sound; else "SOURCE: rules[I]: field 'F': expected ..., got ...".
    std::string error;
    bool ok() const { return error.empty(); }
};

// source names the text in error messages (the file name). Never throws for what the text
// holds; the error's text has its control characters escaped (proxy/byte_text.h).
parsed_rules parse_rules(std::string_view json_text, std::string_view source);
// Reads and parses the file at path: a regular file of at most max_rules_file_bytes. Never
// waits for a writer (a FIFO or a device is refused without being read).
parsed_rules load_rules(const std::string& path);

// The fields every rule may have, whatever its action (each action adds its own).
const std::vector<std::string_view>& common_rule_fields();

// One line per rule in words, for --check-rules (control characters escaped).
std::string describe(const rule& r);

}  // namespace proxy
