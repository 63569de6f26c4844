// What the command lines of both tools share beyond CLI11: the option words a CLI11 app
// knows, a check that names a mistyped command or option together with the word most likely
// meant, and the candidates for completing a word.
#pragma once

#include <CLI/CLI.hpp>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ifc_tool {

struct option_word {
    std::string name;  // "--host", "-h"
    bool takes_value = false;
};

// Every option of app, positionals left out.
std::vector<option_word> option_words(const CLI::App& app);

// Whether word is a value rather than an option although it starts with '-': "-5", "-0.5".
bool is_negative_number(std::string_view word);

// The first word of args (in command-line order) that app cannot know, as a message: "unknown
// command 'stauts'; did you mean 'status'?" for a first non-option word that is no command of
// app (nor one of extra_commands), "unknown option '--hots'; did you mean '--host'?" for an
// option that neither app nor the chosen command has. Empty when every word is known.
std::string unknown_word(const CLI::App& app, std::span<const std::string> args,
                         std::span<const std::string_view> extra_commands = {});

// The command args name (its index in args), skipping options and their values.
struct command_position {
    const CLI::App* command = nullptr;  // nullptr: no command yet
    std::size_t index = 0;
};
command_position find_command(const CLI::App& app, std::span<const std::string> args);

// The words among candidates that start with prefix, in their order.
std::vector<std::string> starting_with(std::span<const std::string> candidates,
                                       std::string_view prefix);

}  // namespace ifc_tool
