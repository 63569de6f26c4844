// Single values of a settings document by their place: the section, the colour (targets and
// valves) and the key. The drift check counts them, the logbook watch keeps a machine's last
// seen values up to date with them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/document_diff.h"
#include "client/settings_document.h"

namespace gateway::mill {

struct setting_key {
    ifc_client::section where = ifc_client::section::status;
    int colour = 0;  // targets and valves; 0 for the other sections
    std::string key;
    auto operator<=>(const setting_key&) const = default;
};

setting_key key_of(const ifc_client::difference& d);

// The value at key; nullopt when the document lacks the line or the key.
std::optional<ifc_client::setting_value> value_at(const ifc_client::settings_document& doc,
                                                  const setting_key& key);
// Sets the value at key; false (and nothing changed) when the document lacks the line or the
// key, or the value is of the other kind (a number for an item's name).
bool set_value(ifc_client::settings_document& doc, const setting_key& key,
               const ifc_client::setting_value& value);

// The keys of every value the document holds, in document order.
std::vector<setting_key> keys_of(const ifc_client::settings_document& doc);

}  // namespace gateway::mill
