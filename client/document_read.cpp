#include "client/document_read.h"

#include "client/commands.h"
#include "client/settings_access.h"

namespace ifc_client {

namespace {

// The valve answer without its constant first item, which no setting stands behind.
token_line without_constant(token_line line) {
    if (!line.empty() && line.front().key == commands::valve_constant_key) line.erase(line.begin());
    return line;
}

}  // namespace

result<settings_document> read_document(connection& conn, const document_scope& scope) {
    settings_document doc;
    doc.taken_at = utc_now();
    if (scope.covers(section::status)) {
        auto status = read_status(conn);
        if (!status) return status.failure();
        doc.status = std::move(status->line);
    }
    if (scope.covers(section::selection)) {
        auto selection = read_selection(conn);
        if (!selection) return selection.failure();
        doc.selection = std::move(selection->line);
    }
    for (int colour = commands::first_colour; colour <= commands::last_colour; ++colour) {
        if (!scope.covers_colour(colour) ||
            (!scope.covers(section::targets) && !scope.covers(section::valves))) {
            continue;
        }
        colour_settings& block = doc.colour_block(colour);
        if (scope.covers(section::targets)) {
            auto targets = read_targets(conn, colour);
            if (!targets) return targets.failure();
            block.targets = std::move(targets->line);
        }
        if (scope.covers(section::valves)) {
            auto valves = read_valves(conn, colour);
            if (!valves) return valves.failure();
            block.valves = without_constant(std::move(valves->line));
        }
    }
    if (scope.covers(section::histogram_selection)) {
        auto choice = read_histogram_selection(conn);
        if (!choice) return choice.failure();
        doc.histogram_selection = histogram_choice{choice->left, choice->right};
    }
    return doc;
}

}  // namespace ifc_client
