#include "gateway/written_setting.h"

#include "client/commands.h"

namespace gateway {

ifc_client::settings_document line_document(ifc_client::section where, int colour,
                                            const ifc_client::token_line& line) {
    ifc_client::settings_document doc;
    switch (where) {
        case ifc_client::section::status:
            doc.status = line;
            break;
        case ifc_client::section::selection:
            doc.selection = line;
            break;
        case ifc_client::section::targets:
            doc.colour_block(colour).targets = line;
            break;
        case ifc_client::section::valves: {
            // The valve answer leads with a constant item that no setting stands behind.
            const bool constant_first =
                !line.empty() && line.front().key == ifc_client::commands::valve_constant_key;
            doc.colour_block(colour).valves.emplace(line.begin() + (constant_first ? 1 : 0),
                                                    line.end());
            break;
        }
        case ifc_client::section::histogram_selection:
            break;
    }
    return doc;
}

ifc_client::settings_document choice_document(const ifc_client::histogram_selection& selection) {
    ifc_client::settings_document doc;
    doc.histogram_selection = ifc_client::histogram_choice{selection.left, selection.right};
    return doc;
}

}  // namespace gateway
