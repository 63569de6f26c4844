// ifc-settings: shows and checks the settings files of the weft-insertion server, makes the
// settings document of two files and the files of a document. Only "write" writes files.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "settings/document_files.h"
#include "settings/settings_image.h"
#include "settings/settings_output.h"
#include "settings/whole_file.h"
#include "tools/cli_words.h"

#ifndef IFC_VERSION
#define IFC_VERSION "unknown"
#endif

namespace {

namespace exit_code = settings_tool::exit_code;

// The values of --table.
const std::vector<std::string> table_labels{"interface", "valve"};

constexpr const char* manual = R"(Commands:
  ifc-settings dump FILE    every record: index, type, name, slots 0..6, min, max, group
  ifc-settings check FILE   whether the server can use the file as it is
  ifc-settings export [-o FILE] [--name NAME] [--note TEXT] DIR|FILE...
                            the settings document of the settings files (the two
                            files in directory DIR, or the files named)
  ifc-settings write DOC --dir DIR
                            the settings files of document DOC (- for standard
                            input) in DIR: on top of the files there, or of the
                            default images where there are none

Files:
  The server keeps its settings in two files in its working directory: "ifc_set.set"
  (the interface table: status, selection, targets, histogram choice; 800 bytes) and
  "valve_fp.set" (the valve angles; 8960 bytes). Each is a raw image of 80-byte
  records (type, name, slots 0..6, min, max, group), ended by a record of type 0. The
  table is told by the file's name, else by its size; --table names it for a renamed
  short file. Slot N of a per-colour record holds the value of weft colour N.

Documents:
  A settings document (JSON, see ifc-client --help and the schema
  settings-document.schema.json in the documentation) holds every setting of one
  machine. export reads the values as the server's read commands do; it refuses
  files the server would replace (a short file) and values no document may hold,
  naming each. write stores every value of the document into its slot as the
  server's write commands do, and leaves every other byte of the files as it was;
  each file is replaced whole and atomically, as the server saves it (a temporary
  file beside it, flushed, renamed over it), and only when a value changes. It
  refuses, writing nothing, when a record a value belongs in cannot take it. Only
  write writes files; the other commands only read.

Checks:
  check reports as problems (the file is not sound): a short file (the server would
  replace it with the defaults, losing every setting), no terminator, a name without
  a NUL byte, a type outside 1..5, a default record that is missing. It reports as
  notes: a longer file, records after the terminator, values outside min..max, min
  above max, duplicate names, records the defaults do not have. It lists the records
  that differ from the defaults. The text shows the first few problems and notes,
  --json all of them.

Exit status:
  0  done; check: the file is sound
  1  usage error
  2  a file cannot be read or written, or its table cannot be told
  3  check: the file is not sound; export, write: a file cannot be used (it is
     short, or a record a value belongs in is missing or damaged)
  4  write: the document is refused (its message names the value's path)

Examples:
  ifc-settings dump ifc_set.set
  ifc-settings --json check state/valve_fp.set
  ifc-settings --table valve check backup.bin
  ifc-settings export -o loom7.json --name "loom 7" /var/lib/ifc-server
  ifc-settings write loom7.json --dir /srv/replacement
)";

int fail(int status, const std::string& message) {
    std::cerr << "ifc-settings: " << message << '\n';
    return status;
}

struct command_line {
    CLI::App app{
        "ifc-settings: shows and checks the settings files of the weft-insertion server, and "
        "turns them into settings documents and back.",
        "ifc-settings"};
    bool json = false;
    std::string table_label;
    std::string path;
    CLI::App* dump = nullptr;
    CLI::App* check = nullptr;
    CLI::App* export_files = nullptr;
    CLI::App* write = nullptr;
    settings_tool::export_request export_request;
    settings_tool::write_request write_request;

    command_line() {
        app.footer(manual);
        app.require_subcommand(1);
        app.fallthrough();
        app.get_formatter()->label("SUBCOMMAND", "COMMAND");
        app.set_help_flag("-h,--help", "show this text and exit");
        app.set_version_flag("--version", "ifc-settings " IFC_VERSION, "show the version and exit");
        app.add_flag("--json", json, "one JSON object instead of a table");
        app.add_option("--table", table_label, "the table the file holds: interface or valve")
            ->type_name("TABLE")
            ->check(CLI::IsMember(table_labels).description(""));
        dump = app.add_subcommand("dump", "show every record of FILE");
        check = app.add_subcommand("check", "say whether FILE is a sound settings image");
        for (CLI::App* sub : {dump, check}) {
            sub->group("Commands");
            sub->set_help_flag("-h,--help", "show this text and exit");
            sub->add_option("FILE", path, "settings file")->required();
        }
        export_files = app.add_subcommand("export", "the settings document of settings files");
        export_files
            ->add_option("PATHS", export_request.paths,
                         "a directory holding the settings files, or the files")
            ->required();
        export_files
            ->add_option("-o,--output", export_request.output,
                         "write the document to FILE instead of standard output")
            ->type_name("FILE");
        export_files->add_option("--name", export_request.name, "the document's name")
            ->type_name("NAME");
        export_files->add_option("--note", export_request.note, "a note kept in the document")
            ->type_name("TEXT");
        write = app.add_subcommand("write", "the settings files of a document, into a directory");
        write->add_option("DOC", write_request.document, "the document (- for standard input)")
            ->required();
        write->add_option("--dir", write_request.dir, "the directory of the settings files")
            ->type_name("DIR")
            ->required();
        for (CLI::App* sub : {export_files, write}) {
            sub->group("Commands");
            sub->set_help_flag("-h,--help", "show this text and exit");
        }
    }
};

// "ifc-settings __complete WORD... CURRENT": the candidates for the word being typed, one per
// line; nothing where a file name is due, which the shell then completes itself.
int print_completions(const std::vector<std::string>& args) {
    if (args.empty()) return exit_code::ok;
    command_line cl;
    const std::vector<std::string> before(args.begin(), args.end() - 1);
    const std::string& current = args.back();
    std::vector<std::string> candidates;
    if (!before.empty() && before.back() == "--table") {
        candidates = table_labels;
    } else if (current.starts_with('-')) {
        for (const auto& o : ifc_tool::option_words(cl.app))
            candidates.push_back(o.name);
        // The chosen command's own options (export -o, write --dir).
        if (const CLI::App* command = ifc_tool::find_command(cl.app, before).command) {
            for (const auto& o : ifc_tool::option_words(*command)) {
                if (std::find(candidates.begin(), candidates.end(), o.name) == candidates.end())
                    candidates.push_back(o.name);
            }
        }
    } else if (ifc_tool::find_command(cl.app, before).command == nullptr) {
        candidates = {"dump", "check", "export", "write"};
    }
    for (const std::string& c : ifc_tool::starting_with(candidates, current))
        std::cout << c << '\n';
    return exit_code::ok;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "__complete") {
        return print_completions({args.begin() + 1, args.end()});
    }
    command_line cl;
    if (const std::string unknown = ifc_tool::unknown_word(cl.app, args); !unknown.empty()) {
        const bool guessed = unknown.find("did you mean") != std::string::npos;
        return fail(exit_code::usage, unknown + (guessed ? "" : " (see 'ifc-settings --help')"));
    }
    try {
        // CLI11 takes the arguments in reverse order: it pops them off the back.
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        cl.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::cout << cl.app.help();
        return exit_code::ok;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << '\n';
        return exit_code::ok;
    } catch (const CLI::ParseError& e) {
        return fail(exit_code::usage,
                    std::string("usage: ") + e.what() + " (see 'ifc-settings --help')");
    }

    if (cl.export_files->parsed()) return settings_tool::run_export(cl.export_request);
    if (cl.write->parsed()) {
        cl.write_request.json = cl.json;
        return settings_tool::run_write(cl.write_request);
    }

    const settings_tool::whole_file file = settings_tool::read_whole(cl.path);
    if (!file.bytes) return fail(exit_code::unreadable, file.error);
    const std::optional<std::string>& bytes = file.bytes;
    const auto table = cl.table_label.empty() ? settings_tool::recognise(cl.path, bytes->size())
                                              : settings_tool::table_by_label(cl.table_label);

    if (cl.dump->parsed()) {
        if (cl.json) {
            std::cout << settings_tool::dump_json(cl.path, *bytes, table).dump() << '\n';
        } else {
            std::cout << settings_tool::dump_text(cl.path, *bytes, table);
        }
        return exit_code::ok;
    }
    if (!table) {
        return fail(exit_code::unreadable,
                    cl.path + ": cannot tell the table by its name or size (use --table)");
    }
    const auto report = settings_tool::check_image(*bytes, *table);
    if (cl.json) {
        std::cout << settings_tool::check_json(cl.path, report).dump() << '\n';
    } else {
        std::cout << settings_tool::check_text(cl.path, report);
    }
    return report.sound() ? exit_code::ok : exit_code::not_sound;
}
