#include "gateway/config_errors.h"

#include <algorithm>
#include <fstream>

#include "tools/suggest.h"

namespace gateway {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The long names of the options the file may set ("poll", "controller", ...).
std::vector<std::string> option_names(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        if (!option->get_configurable()) continue;
        for (const auto& name : option->get_lnames())
            names.push_back(name);
    }
    return names;
}

// Whether the command line gives --name (then the file's entry is not what was read).
bool on_command_line(const std::vector<std::string>& args, const std::string& name) {
    const std::string option = "--" + name;
    return std::any_of(args.begin(), args.end(), [&](const std::string& arg) {
        return arg == option || arg.starts_with(option + "=");
    });
}

// Whether the text names --name as a whole word ("--poll" in "--poll: ...", not in "--polls").
bool mentions(std::string_view text, const std::string& name) {
    const std::string option = "--" + name;
    for (auto at = text.find(option); at != std::string_view::npos;
         at = text.find(option, at + 1)) {
        const auto after = at + option.size();
        if (after == text.size() || !(std::isalnum(static_cast<unsigned char>(text[after])) ||
                                      text[after] == '-' || text[after] == '_')) {
            return true;
        }
    }
    return false;
}

std::string unknown_entry_message(const config_entry& entry,
                                  const std::vector<std::string>& names) {
    if (entry.name.starts_with('[')) {
        return "the file has no sections (" + entry.name + "): write name = value lines";
    }
    std::vector<std::string_view> candidates(names.begin(), names.end());
    const auto nearest = ifc_tool::closest_word(entry.name, candidates);
    return "unknown option \"" + entry.name + "\"" +
           (nearest ? "; did you mean --" + std::string(*nearest) + "?"
                    : " (ifc-gateway --help lists the options)");
}

}  // namespace

std::vector<config_entry> read_config_entries(std::istream& file) {
    std::vector<config_entry> entries;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
        ++number;
        line = trimmed(line);
        if (line.size() < 3 || line.front() == '#' || line.front() == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            if (line != "[default]") entries.push_back({line, number});
            continue;
        }
        const auto equals = line.find('=');
        std::string name = equals == std::string::npos ? line : line.substr(0, equals);
        if (equals == std::string::npos) name = name.substr(0, name.find('#'));
        entries.push_back({trimmed(name), number});
    }
    return entries;
}

std::string describe_parse_error(const CLI::App& app, const std::vector<std::string>& args,
                                 const CLI::ParseError& e) {
    const std::string what = e.what();
    const CLI::Option* config = app.get_config_ptr();
    if (config == nullptr || config->count() == 0) return what;
    const std::string path = config->as<std::string>();
    std::ifstream file(path);
    if (!file) return what;
    const auto entries = read_config_entries(file);
    const auto names = option_names(app);
    const auto at = [&path](const config_entry& entry) {
        return path + ":" + std::to_string(entry.line) + ": ";
    };
    if (dynamic_cast<const CLI::ConfigError*>(&e) != nullptr) {
        for (const config_entry& entry : entries) {
            if (std::find(names.begin(), names.end(), entry.name) == names.end()) {
                return at(entry) + unknown_entry_message(entry, names);
            }
        }
        return path + ": " + what;
    }
    for (const config_entry& entry : entries) {
        if (mentions(what, entry.name) && !on_command_line(args, entry.name)) {
            return at(entry) + what;
        }
    }
    return what;
}

}  // namespace gateway
