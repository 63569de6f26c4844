#include "gateway/written_setting.h"

#include "client/commands.h"

namespace gateway {

namespace {

ifc_client::section section_of(write_target target) {
    switch (target) {
        case write_target::status:
            return ifc_client::section::status;
        case write_target::selection:
            return ifc_client::section::selection;
        case write_target::targets:
            return ifc_client::section::targets;
        case write_target::valves:
            return ifc_client::section::valves;
        case write_target::histogram_selection:
            break;
    }
    return ifc_client::section::histogram_selection;
}

}  // namespace

ifc_client::settings_document line_document(write_target target, int colour,
                                            const ifc_client::token_line& line) {
    ifc_client::settings_document doc;
    switch (target) {
        case write_target::status:
            doc.status = line;
            break;
        case write_target::selection:
            doc.selection = line;
            break;
        case write_target::targets:
            doc.colour_block(colour).targets = line;
            break;
        case write_target::valves: {
            // The valve answer leads with a constant item that no setting stands behind.
            const bool constant_first =
                !line.empty() && line.front().key == ifc_client::commands::valve_constant_key;
            doc.colour_block(colour).valves.emplace(line.begin() + (constant_first ? 1 : 0),
                                                    line.end());
            break;
        }
        case write_target::histogram_selection:
            break;
    }
    return doc;
}

ifc_client::settings_document choice_document(const ifc_client::histogram_selection& selection) {
    ifc_client::settings_document doc;
    doc.histogram_selection = ifc_client::histogram_choice{selection.left, selection.right};
    return doc;
}

std::vector<mill::setting_key> keys_of(const write_request& request) {
    const ifc_client::section where = section_of(request.target);
    std::vector<mill::setting_key> keys;
    if (request.target == write_target::histogram_selection) {
        for (const auto& [side, choice] :
             {std::pair{"left_", &request.left}, std::pair{"right_", &request.right}}) {
            if (!*choice) continue;
            if ((*choice)->colour) keys.push_back({where, 0, std::string(side) + "colour"});
            if ((*choice)->item) keys.push_back({where, 0, std::string(side) + "item"});
        }
        return keys;
    }
    const int colour = ifc_client::per_colour(where) ? request.colour : 0;
    for (const auto& c : request.changes)
        keys.push_back({where, colour, c.key});
    return keys;
}

}  // namespace gateway
