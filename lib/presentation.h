// Constant presentation records for the HTML pages of the library's page writers: two-choice
// radio groups, table and script options, and table attributes. Constant data only; nothing in
// the server reads them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// A two-choice radio group: a number for each choice, their labels (null: no labels, the
// page writer's own) and one more number.
struct rdoyn_attr {
    std::int16_t first_value;
    std::int16_t second_value;
    const char* first_label;
    const char* second_label;
    std::int32_t extra;
};

inline constexpr rdoyn_attr rdoyn_attr_y_n{1, 0, nullptr, nullptr, 0};
inline constexpr rdoyn_attr rdoyn_attr_i_c{0, 1, "inch", "cm", 0};
inline constexpr rdoyn_attr rdoyn_attr_a_s{0, 1, "ALL", "SET", 0};

// Table and script options: six numbers.
struct page_options {
    std::array<std::int32_t, 6> value;
};
static_assert(sizeof(page_options) == 24);

inline constexpr page_options tbl_opt_default{{0, 0, 0, 0, 0, 12}};
inline constexpr page_options js_opt_clr{{0, 0, 0, 0, 0, 0}};
inline constexpr page_options js_opt_default_1{{0, 1, 0, 0, 0, 0}};

inline constexpr std::size_t mtbl_colour_len = 8;  // "#RRGGBB" and its NUL
inline constexpr std::size_t mtbl_align_len = 10;

// Table attributes, in field order.
struct mtbl_attr {
    std::int32_t size;                     // 52, 90 or 70
    char colour[2][mtbl_colour_len];       // "#FFE4C4", "#000000"
    char align[3][mtbl_align_len];         // "middle", "center", "center"
    std::array<std::int32_t, 4> option;    // 1, 0, 0, then 1 only in "default"
    std::array<std::int16_t, 2> refresh;   // (0, 0) except the refresh records
    std::array<std::int32_t, 4> reserved;  // 0 in every record
};
static_assert(offsetof(mtbl_attr, colour) == 4 && offsetof(mtbl_attr, align) == 20 &&
              offsetof(mtbl_attr, option) == 52 && offsetof(mtbl_attr, refresh) == 68 &&
              offsetof(mtbl_attr, reserved) == 72 && sizeof(mtbl_attr) == 88);

namespace presentation_detail {
constexpr mtbl_attr make_mtbl_attr(std::int32_t size, std::int32_t last_option,
                                   std::int16_t refresh_group, std::int16_t refresh_index) {
    return mtbl_attr{size,
                     {"#FFE4C4", "#000000"},
                     {"middle", "center", "center"},
                     {1, 0, 0, last_option},
                     {refresh_group, refresh_index},
                     {}};
}
}  // namespace presentation_detail

inline constexpr mtbl_attr mtbl_attr_default_1 = presentation_detail::make_mtbl_attr(52, 1, 0, 0);
inline constexpr mtbl_attr mtbl_attr_default_2 = presentation_detail::make_mtbl_attr(90, 1, 0, 0);
inline constexpr mtbl_attr mtbl_attr_default_img = presentation_detail::make_mtbl_attr(70, 1, 0, 0);
inline constexpr mtbl_attr mtbl_attr_no_perror_1 = presentation_detail::make_mtbl_attr(52, 0, 0, 0);
inline constexpr mtbl_attr mtbl_attr_no_perror_2 = presentation_detail::make_mtbl_attr(90, 0, 0, 0);
inline constexpr mtbl_attr mtbl_attr_no_perror_img =
    presentation_detail::make_mtbl_attr(70, 0, 0, 0);
inline constexpr mtbl_attr mtbl_attr_refresh1 = presentation_detail::make_mtbl_attr(70, 0, 1, 1);
inline constexpr mtbl_attr mtbl_attr_refresh2 = presentation_detail::make_mtbl_attr(70, 0, 1, 2);
inline constexpr mtbl_attr mtbl_attr_refresh3 = presentation_detail::make_mtbl_attr(70, 0, 1, 3);
inline constexpr mtbl_attr mtbl_attr_refresh2_1 = presentation_detail::make_mtbl_attr(70, 0, 2, 1);
inline constexpr mtbl_attr mtbl_attr_refresh2_2 = presentation_detail::make_mtbl_attr(70, 0, 2, 2);
inline constexpr mtbl_attr mtbl_attr_refresh2_3 = presentation_detail::make_mtbl_attr(70, 0, 2, 3);
