#include "lib/line2matrix2.h"

#include <algorithm>
#include <cstring>

std::array<l2m2_row, l2m2_rows> l2m2{};

namespace {

// Fills row from token; false when the token takes no row.
//
// A token that does not fit a row is skipped whole rather than cut to fit: a cut name could
// turn into another key and a cut value into another number, and the write commands would
// store that number without complaint. So skipped are: a token without a colon (it names no
// value; read as a name with an empty value it would store 0), a name of 30 or more
// characters and a value of 50 or more (which covers every token of 80 or more). The rows that
// are kept stay in token order.
//
// A token that begins with the colon always takes a row, with an empty name, because that row
// ends the walk of the callers; its value is kept only when it fits.
bool fill_row(std::string_view token, l2m2_row& row) {
    const std::size_t colon = token.find(':');
    if (colon == std::string_view::npos) return false;
    const std::string_view name = token.substr(0, colon);
    const std::string_view value = token.substr(colon + 1);
    const bool value_fits = value.size() <= static_cast<std::size_t>(l2m2_max_value_len);
    if (name.empty()) {
        if (value_fits) std::copy(value.begin(), value.end(), row.begin() + l2m2_value_offset);
        return true;
    }
    if (name.size() > static_cast<std::size_t>(l2m2_max_name_len) || !value_fits) return false;
    // The cleared row supplies both terminating NULs.
    std::copy(name.begin(), name.end(), row.begin());
    std::copy(value.begin(), value.end(), row.begin() + l2m2_value_offset);
    return true;
}

}  // namespace

// A bounded scanner instead of strtok: no hidden position between calls, and the text is not
// written. The splitting is the same: runs of spaces separate, leading and trailing spaces make
// no token, tabs and line ends are ordinary characters. Tokens beyond the 500th row are
// dropped.
void line2matrix2(char* text) {
    std::memset(l2m2.data(), 0, sizeof l2m2);
    if (text == nullptr) return;
    const std::string_view line(text);
    std::size_t pos = 0;
    int row = 0;
    while (row < l2m2_rows) {
        pos = line.find_first_not_of(' ', pos);
        if (pos == std::string_view::npos) break;
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        if (fill_row(line.substr(pos, end - pos), l2m2[static_cast<std::size_t>(row)])) ++row;
        pos = end;
    }
}
