#include "gateway/mill/document_values.h"

#include <algorithm>
#include <type_traits>

#include "protocol/protocol.h"

namespace gateway::mill {

using ifc_client::section;
using ifc_client::setting_value;

namespace {

// The line of key in doc, const or not; nullptr when the document lacks it.
template <class Doc>
auto line_of(Doc& doc, const setting_key& key) -> decltype(&*doc.status) {
    switch (key.where) {
        case section::status:
            return doc.status ? &*doc.status : nullptr;
        case section::selection:
            return doc.selection ? &*doc.selection : nullptr;
        case section::targets:
        case section::valves:
            for (auto& block : doc.colours) {
                if (block.colour != key.colour) continue;
                auto& line = key.where == section::targets ? block.targets : block.valves;
                return line ? &*line : nullptr;
            }
            return nullptr;
        case section::histogram_selection:
            break;
    }
    return nullptr;
}

// The member of the histogram selection a key names, as a colour or an item.
template <class Side>
struct side_member {
    Side* side = nullptr;
    bool colour = false;
};
template <class Doc>
auto histogram_member(Doc& doc, const std::string& key)
    -> side_member<std::remove_reference_t<decltype((doc.histogram_selection->left))>> {
    if (!doc.histogram_selection) return {};
    auto& h = *doc.histogram_selection;
    const auto& keys = ifc_client::histogram_selection_keys;
    if (key == keys[0]) return {&h.left, true};
    if (key == keys[1]) return {&h.left, false};
    if (key == keys[2]) return {&h.right, true};
    if (key == keys[3]) return {&h.right, false};
    return {};
}

}  // namespace

setting_key key_of(const ifc_client::difference& d) {
    return setting_key{d.where, d.colour, d.key};
}

std::optional<setting_value> value_at(const ifc_client::settings_document& doc,
                                      const setting_key& key) {
    if (key.where == section::histogram_selection) {
        const auto member = histogram_member(doc, key.key);
        if (member.side == nullptr) return std::nullopt;
        if (member.colour) return setting_value{member.side->colour};
        return setting_value{member.side->item};
    }
    const auto* line = line_of(doc, key);
    if (line == nullptr) return std::nullopt;
    for (const auto& t : *line) {
        if (t.key == key.key) return setting_value{t.value};
    }
    return std::nullopt;
}

bool set_value(ifc_client::settings_document& doc, const setting_key& key,
               const setting_value& value) {
    if (key.where == section::histogram_selection) {
        const auto member = histogram_member(doc, key.key);
        if (member.side == nullptr) return false;
        if (member.colour) {
            const auto* number = std::get_if<std::int32_t>(&value);
            if (number == nullptr) return false;
            member.side->colour = *number;
        } else {
            const auto* item = std::get_if<std::string>(&value);
            if (item == nullptr) return false;
            member.side->item = *item;
        }
        return true;
    }
    const auto* number = std::get_if<std::int32_t>(&value);
    auto* line = line_of(doc, key);
    if (number == nullptr || line == nullptr) return false;
    const auto found = std::find_if(line->begin(), line->end(),
                                    [&](const ifc_client::token& t) { return t.key == key.key; });
    if (found == line->end()) return false;
    found->value = *number;
    return true;
}

std::vector<setting_key> keys_of(const ifc_client::settings_document& doc) {
    std::vector<setting_key> keys;
    const auto add = [&](section s, int colour) {
        if (const auto values = ifc_client::values_of(doc, s, colour)) {
            for (const auto& [key, value] : *values)
                keys.push_back(setting_key{s, colour, key});
        }
    };
    add(section::status, 0);
    add(section::selection, 0);
    for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
        add(section::targets, colour);
        add(section::valves, colour);
    }
    add(section::histogram_selection, 0);
    return keys;
}

}  // namespace gateway::mill
