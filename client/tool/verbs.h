// The commands of ifc-client, one row each: the command-line parser, the dispatch, the help
// and the completion are all built from this table.
#pragma once

#include <span>
#include <string_view>

#include "client/tool/reply.h"
#include "client/tool/request.h"
#include "client/tool/session.h"

namespace ifc_tool {

// What follows a verb on the command line.
enum class arguments {
    none,                // ping
    name,                // get NAME
    name_and_words,      // put NAME [ARGUMENT...]
    changes,             // status, select: [KEY=VALUE ...]
    colour,              // timing COLOUR
    colour_and_changes,  // targets, valves: COLOUR [KEY=VALUE ...]
    words,               // histogram WORD...
    export_options,      // export [-o FILE] [--name NAME] [--note TEXT]
    two_sides,           // diff A B [--only ...] [--colours ...]
    document,            // apply DOC [--dry-run] [--only ...] [--colours ...]
};

// Where a verb stands in the manual.
enum class verb_group { settings, documents, measurements, raw };

struct verb {
    std::string_view name;
    verb_group group;
    std::string_view summary;  // one line for the command list of --help
    std::string_view manual;   // its entry in the manual: synopsis lines, then indented text
    arguments takes;
    // The keys its KEY=VALUE changes may name (empty for the other verbs).
    std::span<const std::string_view> keys;
    // true when the request only reads, so that --interval may repeat it.
    bool (*read_only)(const request&);
    reply (*run)(session&, const request&);
};

std::span<const verb> verbs();
// nullptr for a name that no verb has.
const verb* find_verb(std::string_view name);

}  // namespace ifc_tool
