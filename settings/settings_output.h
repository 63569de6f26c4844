// What ifc-settings prints: the records of a file and the outcome of a check, as a table for
// people or as one JSON object.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "settings/settings_image.h"

namespace settings_tool {

// table: the table the file holds, if known (the records are the same either way).
std::string dump_text(std::string_view path, std::string_view bytes,
                      const std::optional<table_kind>& table);
nlohmann::ordered_json dump_json(std::string_view path, std::string_view bytes,
                                 const std::optional<table_kind>& table);

std::string check_text(std::string_view path, const check_report& report);
nlohmann::ordered_json check_json(std::string_view path, const check_report& report);

}  // namespace settings_tool
