#include "client/commands.h"

namespace ifc_client::commands {

namespace {

std::string numbered(std::string_view family, int colour) {
    return std::string(family) + std::to_string(colour);
}

// The per-colour families, each member ending in its colour number.
void add_family(std::vector<std::string>& names, std::string_view family) {
    for (int colour = first_colour; colour <= last_colour; ++colour) {
        names.push_back(numbered(family, colour));
    }
}

}  // namespace

error not_a_colour(std::int64_t number) {
    return error{errc::bad_request, "colour " + std::to_string(number) + " is not a weft colour " +
                                        colour_range_text()};
}

std::string colour_range_text() {
    return std::to_string(first_colour) + ".." + std::to_string(last_colour);
}

std::string get_targets(int colour) {
    return numbered("IFC_get_Tot_Twt_", colour);
}
std::string set_targets(int colour) {
    return numbered("IFC_set_to_tw_", colour);
}
std::string get_timing(int colour) {
    return numbered("IFC_get_To_Tw_", colour);
}
std::string get_averages(int colour) {
    return numbered("IFC_get_histo_ave_", colour);
}
std::string get_valves(int colour) {
    return numbered("IFC_get_on_off_", colour);
}
std::string set_valves(int colour) {
    return numbered("IFC_set_on_off_", colour);
}

std::vector<std::string_view> valve_answer_keys() {
    std::vector<std::string_view> keys{valve_constant_key};
    keys.insert(keys.end(), valve_keys.begin(), valve_keys.end());
    return keys;
}

std::vector<std::string> read_commands() {
    std::vector<std::string> names{std::string(get_selection), std::string(get_status)};
    add_family(names, "IFC_get_Tot_Twt_");
    add_family(names, "IFC_get_To_Tw_");
    add_family(names, "IFC_get_histo_ave_");
    names.emplace_back(get_histogram_selection);
    names.emplace_back(get_histogram_left);
    names.emplace_back(get_histogram_right);
    add_family(names, "IFC_get_on_off_");
    return names;
}

std::vector<std::string> write_commands() {
    std::vector<std::string> names{std::string(letoff_button), std::string(set_selection),
                                   std::string(set_status)};
    add_family(names, "IFC_set_to_tw_");
    add_family(names, "IFC_set_on_off_");
    names.emplace_back(set_histogram_selection);
    names.emplace_back(histogram_clear);
    names.emplace_back(histogram_settings);
    return names;
}

}  // namespace ifc_client::commands
