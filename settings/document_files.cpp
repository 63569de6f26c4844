#include "settings/document_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "client/document_json.h"
#include "lib/sim_main.h"
#include "settings/document_images.h"
#include "settings/settings_image.h"
#include "settings/whole_file.h"
#include "tools/text_file.h"

#ifndef IFC_VERSION
#define IFC_VERSION "unknown"
#endif

namespace settings_tool {

namespace {

// Problems are listed up to this many; the rest are counted.
constexpr std::size_t problems_shown = 10;

int fail(int status, const std::string& message) {
    std::cerr << "ifc-settings: " << message << '\n';
    return status;
}

int fail_with(int status, const std::string& what, const std::vector<std::string>& problems) {
    std::cerr << "ifc-settings: " << what << '\n';
    for (std::size_t i = 0; i < problems.size() && i < problems_shown; ++i)
        std::cerr << "ifc-settings:   " << problems[i] << '\n';
    if (problems.size() > problems_shown) {
        std::cerr << "ifc-settings:   and " << problems.size() - problems_shown << " more\n";
    }
    return status;
}

bool is_directory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string absolute(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

std::string in_dir(const std::string& dir, std::string_view name) {
    return dir + (dir.ends_with('/') ? "" : "/") + std::string(name);
}

// The images export reads, and the files they came from.
struct found_files {
    settings_images images;
    std::string interface_path;
    std::string valve_path;
};

// Files named directly, or the two files of a directory. A failure is a message and a status.
struct finding_error {
    int status;
    std::string message;
};

std::optional<finding_error> take(found_files& found, const std::string& path,
                                  const std::string& bytes, const table_kind& table) {
    const bool interface = table.file_name == interface_table().file_name;
    std::string& slot = interface ? found.interface_path : found.valve_path;
    if (!slot.empty()) {
        return finding_error{exit_code::usage, "usage: " + slot + " and " + path +
                                                   " both hold the " + std::string(table.label) +
                                                   " table"};
    }
    slot = path;
    (interface ? found.images.interface_image : found.images.valve_image) = bytes;
    return std::nullopt;
}

std::optional<finding_error> find_files(const std::vector<std::string>& paths, found_files& found) {
    for (const std::string& path : paths) {
        if (is_directory(path)) {
            int present = 0;
            for (const table_kind& table : {interface_table(), valve_table()}) {
                const std::string file = in_dir(path, table.file_name);
                const whole_file read = read_whole(file);
                if (read.missing) {
                    std::cerr << "ifc-settings: note: " << file << " is missing: the document "
                              << "holds none of its values\n";
                    continue;
                }
                if (!read.bytes) return finding_error{exit_code::unreadable, read.error};
                if (auto e = take(found, file, *read.bytes, table)) return e;
                ++present;
            }
            if (present == 0) {
                return finding_error{exit_code::unreadable,
                                     path + " holds no settings file (ifc_set.set, valve_fp.set)"};
            }
            continue;
        }
        const whole_file read = read_whole(path);
        if (!read.bytes) return finding_error{exit_code::unreadable, read.error};
        const auto table = recognise(path, read.bytes->size());
        if (!table) {
            return finding_error{exit_code::unreadable,
                                 path + ": cannot tell the table by its name or size"};
        }
        if (auto e = take(found, path, *read.bytes, *table)) return e;
    }
    return std::nullopt;
}

// The image of a file in dir to write on: the file as it is, or the defaults when there is
// none.
struct target_file {
    std::string path;
    std::string image;
    bool created = false;
};

std::optional<finding_error> target_of(const std::string& dir, const table_kind& table,
                                       target_file& target) {
    target.path = in_dir(dir, table.file_name);
    const whole_file read = read_whole(target.path);
    if (read.missing) {
        const auto defaults = table.defaults;
        target.image.assign(reinterpret_cast<const char*>(defaults.data()), defaults.size_bytes());
        target.created = true;
        return std::nullopt;
    }
    if (!read.bytes) return finding_error{exit_code::unreadable, read.error};
    target.image = *read.bytes;
    return std::nullopt;
}

std::string written_text(const target_file& file, int values, int changed) {
    const std::string count = std::to_string(changed) + (changed == 1 ? " differs" : " differ");
    if (file.created) {
        return file.path + ": created from the defaults with the document's " +
               std::to_string(values) + " values (" + count + " from the defaults)\n";
    }
    if (changed == 0) {
        return file.path + ": left as it was (it holds the document's " + std::to_string(values) +
               " values already)\n";
    }
    return file.path + ": written: " + std::to_string(changed) + " of the document's " +
           std::to_string(values) + " values changed\n";
}

}  // namespace

int run_export(const export_request& request) {
    found_files found;
    if (auto e = find_files(request.paths, found)) return fail(e->status, e->message);
    images_reading reading = document_of(found.images);
    if (!reading.problems.empty()) {
        return fail_with(exit_code::not_sound,
                         "the settings files hold what no settings document may hold "
                         "(ifc-settings check tells more):",
                         reading.problems);
    }
    ifc_client::settings_document& doc = reading.document;
    doc.name = request.name;
    doc.note = request.note;
    for (const std::string* path : {&found.interface_path, &found.valve_path}) {
        if (!path->empty()) doc.source.files.push_back(absolute(*path));
    }
    doc.taken_at = ifc_client::utc_now();
    doc.program = "ifc-settings";
    doc.program_version = IFC_VERSION;
    const std::string output = request.output.empty() ? "-" : request.output;
    if (const std::string error =
            ifc_tool::write_text_file(output, ifc_client::format_document(doc));
        !error.empty()) {
        return fail(exit_code::unreadable, error);
    }
    if (output != "-") std::cout << "wrote " << output << '\n';
    return exit_code::ok;
}

int run_write(const write_request& request) {
    const auto text = ifc_tool::read_text_file(request.document, ifc_client::largest_document);
    if (!text.text) return fail(exit_code::unreadable, text.error);
    const auto doc = ifc_client::parse_document(*text.text);
    const std::string doc_name = request.document == "-" ? "standard input" : request.document;
    if (!doc) return fail(exit_code::bad_document, doc_name + ": " + doc.failure().detail);
    if (!is_directory(request.dir)) {
        return fail(exit_code::unreadable,
                    "cannot write into " + request.dir + ": not a directory");
    }
    target_file interface_file, valve_file;
    settings_images images;
    if (sets_interface(doc.value())) {
        if (auto e = target_of(request.dir, interface_table(), interface_file)) {
            return fail(e->status, e->message);
        }
        images.interface_image = interface_file.image;
    }
    if (sets_valves(doc.value())) {
        if (auto e = target_of(request.dir, valve_table(), valve_file)) {
            return fail(e->status, e->message);
        }
        images.valve_image = valve_file.image;
    }
    const images_writing written = write_document(doc.value(), images);
    if (!written.problems.empty()) {
        return fail_with(exit_code::not_sound,
                         "nothing written: the settings files cannot take the document's values "
                         "(ifc-settings check tells more):",
                         written.problems);
    }
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    std::string report;
    const auto save = [&](target_file& file, const std::optional<std::string>& image,
                          std::string_view table, int values, int changed) -> std::optional<int> {
        if (!image) return std::nullopt;
        const bool needed = file.created || changed > 0;
        if (needed && hfp_save_data2(file.path.c_str(), image->data(),
                                     static_cast<int>(image->size())) != 0) {
            return fail(
                exit_code::unreadable,
                "cannot write " + file.path + ": " + std::strerror(errno) +
                    (report.empty()
                         ? ""
                         : " (written before it: " + report.substr(0, report.size() - 1) + ")"));
        }
        report += written_text(file, values, changed);
        files.push_back({{"path", file.path},
                         {"table", table},
                         {"values", values},
                         {"changed", changed},
                         {"created", file.created},
                         {"written", needed}});
        return std::nullopt;
    };
    if (auto status = save(interface_file, images.interface_image, interface_table().label,
                           written.interface_values, written.interface_changed)) {
        return *status;
    }
    if (auto status = save(valve_file, images.valve_image, valve_table().label,
                           written.valve_values, written.valve_changed)) {
        return *status;
    }
    if (request.json) {
        std::cout << nlohmann::ordered_json{{"document", request.document},
                                            {"dir", request.dir},
                                            {"files", files}}
                         .dump()
                  << '\n';
    } else {
        std::cout << report;
    }
    return exit_code::ok;
}

}  // namespace settings_tool
