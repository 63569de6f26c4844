#include "gateway/mill/snapshot_document.h"

#include "client/commands.h"

namespace gateway::mill {

ifc_client::settings_document document_of(const machine_snapshot& snapshot,
                                          ifc_client::document_source source,
                                          std::string taken_at) {
    ifc_client::settings_document doc;
    doc.source = std::move(source);
    doc.taken_at = std::move(taken_at);
    doc.status = snapshot.status;
    doc.selection = snapshot.selection;
    doc.colours.reserve(protocol::colour_count);
    for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
        const colour_values& values = snapshot.colour(colour);
        ifc_client::colour_settings block;
        block.colour = colour;
        block.targets = values.targets;
        // The valve answer leads with a constant item that no setting stands behind.
        const auto& valves = values.valves;
        const bool constant_first =
            !valves.empty() && valves.front().key == ifc_client::commands::valve_constant_key;
        block.valves.emplace(valves.begin() + (constant_first ? 1 : 0), valves.end());
        doc.colours.push_back(std::move(block));
    }
    doc.histogram_selection = ifc_client::histogram_choice{snapshot.histogram_selection.left,
                                                           snapshot.histogram_selection.right};
    return doc;
}

}  // namespace gateway::mill
