#include "tools/suggest.h"

#include <algorithm>
#include <vector>

namespace ifc_tool {

namespace {

// Edits from a to b, a swap of two neighbouring letters counting as one (optimal string
// alignment distance).
std::size_t edit_distance(std::string_view a, std::string_view b) {
    const std::size_t rows = a.size() + 1, columns = b.size() + 1;
    std::vector<std::size_t> d(rows * columns);
    auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return d[i * columns + j]; };
    for (std::size_t i = 0; i < rows; ++i)
        at(i, 0) = i;
    for (std::size_t j = 0; j < columns; ++j)
        at(0, j) = j;
    for (std::size_t i = 1; i < rows; ++i) {
        for (std::size_t j = 1; j < columns; ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
            }
        }
    }
    return at(rows - 1, columns - 1);
}

std::size_t tolerated_edits(std::string_view word) {
    return word.size() <= 5 ? 1 : 1 + (word.size() - 3) / 3;
}

}  // namespace

std::optional<std::string_view> closest_word(std::string_view word,
                                             std::span<const std::string_view> candidates) {
    if (word.empty()) return std::nullopt;
    std::optional<std::string_view> only_extension;
    int extensions = 0;
    for (std::string_view c : candidates) {
        if (c.size() > word.size() && c.starts_with(word)) {
            only_extension = c;
            ++extensions;
        }
    }
    if (extensions == 1) return only_extension;

    std::optional<std::string_view> best;
    std::size_t best_distance = tolerated_edits(word) + 1;
    for (std::string_view c : candidates) {
        const std::size_t distance = edit_distance(word, c);
        if (distance > 0 && distance < best_distance) {
            best = c;
            best_distance = distance;
        }
    }
    return best;
}

std::string did_you_mean(std::string_view word, std::span<const std::string_view> candidates) {
    const auto closest = closest_word(word, candidates);
    return closest ? "; did you mean '" + std::string(*closest) + "'?" : std::string();
}

}  // namespace ifc_tool
