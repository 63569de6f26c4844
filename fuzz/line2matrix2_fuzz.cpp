// The line-to-matrix parser on arbitrary text. Besides the sanitizers' checks, every call is
// held against an independent statement of what the valve write commands rely on: the text
// is left as it was, and the matrix holds, row after row, exactly the tokens that fit a row,
// in token order, and nothing else.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "lib/line2matrix2.h"

namespace {

using matrix = std::array<l2m2_row, l2m2_rows>;

// Tokens are runs of characters other than the space; each that holds a colon and whose name
// and value fit their fields takes the next row. A token that begins with the colon takes a
// row with an empty name (it ends the walk of the callers); its value only when it fits.
void expected_rows(std::string_view line, matrix& out) {
    out = {};
    std::size_t row = 0;
    std::size_t pos = 0;
    while (row < out.size()) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        if (pos == line.size()) return;
        std::size_t end = pos;
        while (end < line.size() && line[end] != ' ')
            ++end;
        const std::string_view token = line.substr(pos, end - pos);
        pos = end;
        const std::size_t colon = token.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = token.substr(0, colon);
        const std::string_view value = token.substr(colon + 1);
        const bool value_fits = value.size() <= static_cast<std::size_t>(l2m2_max_value_len);
        if (!name.empty() &&
            (name.size() > static_cast<std::size_t>(l2m2_max_name_len) || !value_fits)) {
            continue;
        }
        l2m2_row& r = out[row++];
        std::copy(name.begin(), name.end(), r.begin());
        if (value_fits) std::copy(value.begin(), value.end(), r.begin() + l2m2_value_offset);
    }
}

matrix expected;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The callers hand over a NUL-terminated text: the argument ends at its first NUL.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    const std::vector<char> before = text;
    line2matrix2(text.data());

    if (text != before) std::abort();
    expected_rows(std::string_view(before.data()), expected);
    if (std::memcmp(expected.data(), l2m2.data(), sizeof l2m2) != 0) std::abort();
    return 0;
}
