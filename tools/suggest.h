// "Did you mean ...?" for mistyped commands, options, keys and items.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ifc_tool {

// The candidate that word most likely misspells: the only candidate that starts with word,
// else the nearest one in spelling (letters inserted, deleted, changed or two neighbours
// swapped), when it is near enough: one edit for a word of up to five letters, one more for
// every three letters beyond. Ties go to the earlier candidate.
std::optional<std::string_view> closest_word(std::string_view word,
                                             std::span<const std::string_view> candidates);

// "; did you mean 'main_on'?" for the closest candidate, or "" when none is close.
std::string did_you_mean(std::string_view word, std::span<const std::string_view> candidates);

}  // namespace ifc_tool
