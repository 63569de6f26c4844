// The differences between two settings documents, value by value, for people (one line each
// in the operator's words) and for programs (section, colour, key, old and new value).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "client/settings_document.h"

namespace ifc_client {

// A value of a document: a number, or the name of a histogram item.
using setting_value = std::variant<std::int32_t, std::string>;
std::string value_text(const setting_value& value);

enum class document_side { first, second };

struct difference {
    section where = section::status;
    int colour = 0;  // targets and valves: the colour; 0 for the other sections
    // The key of a value that differs. Empty when the section (of the colour) is in one
    // document only: only_in names that one.
    std::string key;
    std::optional<setting_value> old_value;  // the first document's
    std::optional<setting_value> new_value;  // the second document's
    std::optional<document_side> only_in;
    bool operator==(const difference&) const = default;
};

// Every value of scope that differs between a and b, in document order: status, selection,
// then colour by colour its targets and valves, then the histogram selection. Only values
// count: name, note, source, time and program are no settings.
std::vector<difference> diff_documents(const settings_document& a, const settings_document& b,
                                       const document_scope& scope = {});

// One line in the operator's words: "colour 2  main_on  90 -> 100", "status  color  1 -> 3",
// "histogram  left_item  tw -> tbw", "colour 4  valves  only in A" (a_name and b_name name
// the two documents).
std::string describe(const difference& d, std::string_view a_name = "A",
                     std::string_view b_name = "B");

// The values of a section (of a colour) as setting values, in key order; empty when the
// document lacks the section.
std::optional<std::vector<std::pair<std::string, setting_value>>> values_of(
    const settings_document& doc, section s, int colour = 0);

}  // namespace ifc_client
