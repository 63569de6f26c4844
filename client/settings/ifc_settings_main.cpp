// ifc-settings: shows and checks the settings files of the weft-insertion server. It only
// reads: a settings file is never written.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "client/settings/settings_image.h"
#include "client/settings/settings_output.h"

namespace {

namespace exit_code {
constexpr int ok = 0;  // dumped, or the file is sound
constexpr int usage = 1;
constexpr int unreadable = 2;  // the file cannot be read, or its table cannot be told
constexpr int not_sound = 3;
}  // namespace exit_code

// Far above both tables: anything larger is not a settings file.
constexpr std::size_t largest_file = 1 << 20;

constexpr const char* manual = R"(Commands:
  ifc-settings dump FILE    every record: index, type, name, slots 0..6, min, max, group
  ifc-settings check FILE   whether the server can use the file as it is

The server keeps its settings in two files in its working directory: "ifc_set.set" (the
interface table: status, selection, targets, histogram choice; 800 bytes) and
"valve_fp.set" (the valve angles; 8960 bytes). Each is a raw image of 80-byte records
(type, name, slots 0..6, min, max, group), ended by a record of type 0. The table is told
by the file's name, else by its size; --table names it for a renamed short file.
Slot N of a per-colour record holds the value of weft colour N.

check reports as problems (the file is not sound): a short file (the server would replace
it with the defaults, losing every setting), no terminator, a name without a NUL byte, a
type outside 1..5, a default record that is missing. It reports as notes: a longer file,
records after the terminator, values outside min..max, min above max, duplicate names,
records the defaults do not have. It lists every record that differs from the defaults.

Exit status:
  0  dump: done; check: the file is sound
  1  usage error
  2  the file cannot be read, or (check) its table cannot be told
  3  check: the file is not sound

Examples:
  ifc-settings dump ifc_set.set
  ifc-settings --json check state/valve_fp.set
  ifc-settings --table valve check backup.bin)";

std::optional<std::string> read_whole(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    std::string bytes;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > largest_file) {
            error = path + " is larger than any settings file";
            return std::nullopt;
        }
    }
    if (in.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return bytes;
}

int fail(int status, const std::string& message) {
    std::cerr << "ifc-settings: " << message << '\n';
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "ifc-settings: shows and checks the settings files of the weft-insertion "
        "server (read only).",
        "ifc-settings"};
    app.footer(manual);
    app.require_subcommand(1);
    app.fallthrough();
    bool json = false;
    std::string table_label;
    std::string path;
    app.add_flag("--json", json, "one JSON object instead of a table");
    app.add_option("--table", table_label, "the table the file holds: interface or valve")
        ->check(CLI::IsMember({"interface", "valve"}));
    auto* dump = app.add_subcommand("dump", "show every record of FILE");
    dump->add_option("FILE", path, "settings file")->required();
    auto* check = app.add_subcommand("check", "say whether FILE is a sound settings image");
    check->add_option("FILE", path, "settings file")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return exit_code::ok;
    } catch (const CLI::ParseError& e) {
        return fail(exit_code::usage,
                    std::string("usage: ") + e.what() + " (see ifc-settings --help)");
    }

    std::string error;
    const auto bytes = read_whole(path, error);
    if (!bytes) return fail(exit_code::unreadable, error);
    const auto table = table_label.empty() ? settings_tool::recognise(path, bytes->size())
                                           : settings_tool::table_by_label(table_label);

    if (dump->parsed()) {
        if (json) {
            std::cout << settings_tool::dump_json(path, *bytes, table).dump() << '\n';
        } else {
            std::cout << settings_tool::dump_text(path, *bytes, table);
        }
        return exit_code::ok;
    }
    if (!table) {
        return fail(exit_code::unreadable,
                    path + ": cannot tell the table by its name or size (use --table)");
    }
    const auto report = settings_tool::check_image(*bytes, *table);
    if (json) {
        std::cout << settings_tool::check_json(path, report).dump() << '\n';
    } else {
        std::cout << settings_tool::check_text(path, report);
    }
    return report.sound() ? exit_code::ok : exit_code::not_sound;
}
