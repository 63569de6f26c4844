// Plain-text tables for people: columns aligned, numbers to the right.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ifc_tool {

using text_row = std::vector<std::string>;

// The rows as aligned columns, two blanks apart; a column is right-aligned when every cell
// below the first row (the heading) is a number, "-" or empty.
std::string render_table(std::span<const text_row> rows);

// A horizontal bar of width cells for value out of max.
std::string bar(std::int64_t value, std::int64_t max, int width);

}  // namespace ifc_tool
