#include "tools/cli_words.h"

#include <algorithm>

#include "tools/suggest.h"

namespace ifc_tool {

namespace {

// An option word without its "=value".
std::string_view option_name(std::string_view word) {
    return word.substr(0, word.find('='));
}

bool is_option(std::string_view word) {
    return word.size() > 1 && word[0] == '-' && !is_negative_number(word);
}

const option_word* find_option(std::span<const option_word> options, std::string_view name) {
    for (const option_word& o : options) {
        if (o.name == name) return &o;
    }
    return nullptr;
}

std::vector<std::string_view> names_of(std::span<const option_word> options) {
    std::vector<std::string_view> names;
    for (const option_word& o : options)
        names.push_back(o.name);
    return names;
}

const CLI::App* subcommand_named(const CLI::App& app, std::string_view name) {
    for (const CLI::App* sub : app.get_subcommands({})) {
        if (sub->get_name() == name) return sub;
    }
    return nullptr;
}

}  // namespace

std::vector<option_word> option_words(const CLI::App& app) {
    std::vector<option_word> words;
    for (const CLI::Option* opt : app.get_options()) {
        if (opt->get_positional()) continue;
        const bool takes_value = opt->get_expected_min() > 0;
        for (const std::string& l : opt->get_lnames())
            words.push_back({"--" + l, takes_value});
        for (const std::string& s : opt->get_snames())
            words.push_back({"-" + s, takes_value});
    }
    return words;
}

bool is_negative_number(std::string_view word) {
    if (word.size() < 2 || word[0] != '-') return false;
    return std::all_of(word.begin() + 1, word.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

command_position find_command(const CLI::App& app, std::span<const std::string> args) {
    const auto options = option_words(app);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view word = args[i];
        if (word == "--") break;
        if (is_option(word)) {
            const option_word* o = find_option(options, option_name(word));
            if (o != nullptr && o->takes_value && word.find('=') == std::string_view::npos) ++i;
            continue;
        }
        return {subcommand_named(app, word), i};
    }
    return {nullptr, args.size()};
}

std::string unknown_word(const CLI::App& app, std::span<const std::string> args,
                         std::span<const std::string_view> extra_commands) {
    std::vector<option_word> options = option_words(app);
    std::vector<std::string_view> commands(extra_commands.begin(), extra_commands.end());
    for (const CLI::App* sub : app.get_subcommands({}))
        commands.push_back(sub->get_name());
    bool have_command = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view word = args[i];
        if (word == "--") break;
        if (is_option(word)) {
            const std::string_view name = option_name(word);
            const option_word* o = find_option(options, name);
            if (o == nullptr) {
                return "unknown option '" + std::string(name) + "'" +
                       ifc_tool::did_you_mean(name, names_of(options));
            }
            if (o->takes_value && word.find('=') == std::string_view::npos) ++i;
            continue;
        }
        if (have_command) continue;  // a word of the command
        if (std::find(commands.begin(), commands.end(), word) == commands.end()) {
            return "unknown command '" + std::string(word) + "'" +
                   ifc_tool::did_you_mean(word, commands);
        }
        have_command = true;
        // The command's own options join the global ones (which may follow it as well).
        if (const CLI::App* sub = subcommand_named(app, word)) {
            for (option_word& o : option_words(*sub)) {
                if (find_option(options, o.name) == nullptr) options.push_back(std::move(o));
            }
        }
    }
    return {};
}

std::vector<std::string> starting_with(std::span<const std::string> candidates,
                                       std::string_view prefix) {
    std::vector<std::string> found;
    for (const std::string& c : candidates) {
        if (c.starts_with(prefix)) found.push_back(c);
    }
    return found;
}

}  // namespace ifc_tool
