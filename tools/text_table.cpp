#include "tools/text_table.h"

#include <algorithm>

namespace ifc_tool {

namespace {

bool is_number(const std::string& cell) {
    if (cell.empty() || cell == "-") return true;
    std::size_t i = cell[0] == '-' ? 1 : 0;
    if (i == cell.size()) return false;
    for (; i < cell.size(); ++i) {
        if ((cell[i] < '0' || cell[i] > '9') && cell[i] != '.') return false;
    }
    return true;
}

}  // namespace

std::string render_table(std::span<const text_row> rows) {
    std::vector<std::size_t> width;
    std::vector<bool> numeric;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            if (c >= width.size()) {
                width.push_back(0);
                numeric.push_back(true);
            }
            width[c] = std::max(width[c], rows[r][c].size());
            if (r > 0 && !is_number(rows[r][c])) numeric[c] = false;
        }
    }
    std::string text;
    for (const text_row& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (c > 0) line += "  ";
            const std::string pad(width[c] - row[c].size(), ' ');
            line += numeric[c] ? pad + row[c] : row[c] + pad;
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        text += line + '\n';
    }
    return text;
}

std::string bar(std::int64_t value, std::int64_t max, int width) {
    if (value <= 0 || max <= 0) return "";
    // Any count above zero shows at least one cell.
    const auto cells = std::max<std::int64_t>(1, (value * width + max / 2) / max);
    return std::string(static_cast<std::size_t>(std::min<std::int64_t>(cells, width)), '#');
}

}  // namespace ifc_tool
