// A settings document: the persistent settings of one machine (every value that a PUT sets and
// a GET reads back), with what the document is and where its values came from. Measurements
// and histogram contents are not settings and have no place in it.
//
// The value type and its checks only; no I/O. The JSON text form is in document_json.h, the
// comparison of two documents in document_diff.h, reading one from a controller in
// document_read.h and applying one to a controller in document_apply.h.
//
// A document may hold a part of a machine: each section, and each colour's targets and valves,
// may be missing. A section that is there holds every key of its line, in answer order.
#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/histogram.h"
#include "client/result.h"
#include "client/token_line.h"
#include "client/value_ranges.h"

namespace ifc_client {

// The format a document names in its "format" member; a reader refuses a newer version.
inline constexpr std::string_view document_format_name = "ifc-settings-document";
inline constexpr int document_format_version = 1;
// Far above any document of one machine (about 10 KB): anything larger is refused unread.
inline constexpr std::size_t largest_document = 1 << 20;

// The parts of a document, in document order. Targets and valves are per colour.
enum class section { status, selection, targets, valves, histogram_selection };
inline constexpr std::array<section, 5> all_sections{section::status, section::selection,
                                                     section::targets, section::valves,
                                                     section::histogram_selection};
// The member name in a document: "status", ..., "histogram_selection".
std::string_view section_name(section s);
// The word on a command line: as the member name, with "histogram-selection".
std::string_view section_word(section s);
std::optional<section> section_of_word(std::string_view word);
bool per_colour(section s);

// The keys of the histogram selection in a document: each side's colour and item.
inline constexpr std::array<std::string_view, 4> histogram_selection_keys{
    "left_colour", "left_item", "right_colour", "right_item"};

// The keys of a section's line, in answer order (valves: without the constant item).
std::span<const std::string_view> keys_of(section s);

struct colour_settings {
    int colour = 0;
    std::optional<token_line> targets;  // to, tw
    std::optional<token_line> valves;   // the 45 valve keys
};

struct histogram_choice {
    side_choice left;
    side_choice right;
    bool operator==(const histogram_choice& other) const {
        return left.colour == other.left.colour && left.item == other.left.item &&
               right.colour == other.right.colour && right.item == other.right.item;
    }
};

// Where the values came from: a controller, or settings files.
struct document_source {
    std::string controller;          // the controller's name as the operator gave it
    std::string address;             // HOST:PORT it was reached at
    std::vector<std::string> files;  // the settings files read, when there was no controller
};

struct settings_document {
    std::string name;
    std::string note;
    document_source source;
    std::string taken_at;  // UTC, "2026-12-10T08:15:00Z"
    std::string program;   // the program that wrote the document, and its version
    std::string program_version;

    std::optional<token_line> status;
    std::optional<token_line> selection;
    std::vector<colour_settings> colours;  // ascending colour numbers, each at most once
    std::optional<histogram_choice> histogram_selection;

    // The block of colour n; nullptr when the document has none.
    const colour_settings* colour(int n) const;
    // The block of colour n, added in its place when missing.
    colour_settings& colour_block(int n);
    // The line of a section (of a colour); nullptr when the document lacks it. Not for the
    // histogram selection, which is no token line.
    const token_line* line(section s, int colour = 0) const;
};

// The part of the settings a comparison or an apply covers: the sections named (none: every
// one) and the colours named (none: every one).
struct document_scope {
    std::vector<section> sections;
    std::vector<int> colours;
    bool covers(section s) const;
    bool covers_colour(int colour) const;
};
// "status,valves" and "1,3" as a command line gives them (either may be empty): unknown words,
// colours outside 1..6 and empty items are errc::bad_request.
result<document_scope> parse_scope(std::string_view sections, std::string_view colours);

// The value range of key in a section whose values are numbers; histogram colours are weft
// colours. Empty for a key the section does not have (and for the histogram items).
std::optional<value_range> document_range(section s, std::string_view key);

// Everything that keeps the document's values from being written to a controller or a file:
// values outside their range, lines that lack or repeat keys, colour blocks out of order or
// outside 1..6, unknown histogram items. Each problem is one text, "path: what", with the path
// of the value in the document's JSON form: "colours[2].valves.main_on: 400 is outside
// 0..359". Empty when the document is sound.
std::vector<std::string> check_document(const settings_document& doc);

// The JSON path of a value: "status.color", "colours[2].valves.main_on" (index is the
// block's place in the document).
std::string value_path(section s, std::size_t block_index, std::string_view key);

// The current time, UTC, as a document's taken_at gives it.
std::string utc_now();

}  // namespace ifc_client
