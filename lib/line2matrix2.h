// The line-to-matrix parser: splits a line of "name:value" tokens into the matrix l2m2, one
// row per token, for the write commands to walk.
#pragma once

#include <array>
#include <string_view>

inline constexpr int l2m2_rows = 500;
inline constexpr int l2m2_row_len = 80;
// A row holds the name at byte 0 and the value text at this byte, each NUL-terminated.
inline constexpr int l2m2_value_offset = 30;
inline constexpr int l2m2_max_name_len = l2m2_value_offset - 1;                  // 29
inline constexpr int l2m2_max_value_len = l2m2_row_len - l2m2_value_offset - 1;  // 49

using l2m2_row = std::array<char, l2m2_row_len>;

// Rows of the last parsed line in token order; every row after the last token is all zero.
// A row with an empty name ends the tokens (or the matrix does, after row 499).
extern std::array<l2m2_row, l2m2_rows> l2m2;

// Clears the whole matrix, then fills one row per token of text (NUL-terminated). Tokens are
// separated by runs of the space character only; a token splits at its first colon. The text
// is only read. Tokens that do not fit a row are skipped, never cut (see the .cpp).
void line2matrix2(char* text);

inline std::string_view l2m2_name(const l2m2_row& row) {
    return row.data();
}
inline std::string_view l2m2_value(const l2m2_row& row) {
    return row.data() + l2m2_value_offset;
}
