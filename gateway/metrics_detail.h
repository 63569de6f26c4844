// How much of each controller /metrics and /probe carry. A mill watches state, polls, writes,
// drift and the arrival figures of hundreds of machines (basic); the valve set-points and the
// histogram bins are many series each that change only when someone edits them or are only
// read on the machine page, so they come only when asked for (settings, full).
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace gateway {

// Each level carries everything of the ones before it.
enum class metrics_detail { basic, settings, full };

inline constexpr std::array<std::string_view, 3> metrics_detail_names{"basic", "settings", "full"};

inline constexpr std::string_view name_of(metrics_detail detail) {
    return metrics_detail_names[static_cast<std::size_t>(detail)];
}

inline constexpr std::optional<metrics_detail> parse_metrics_detail(std::string_view text) {
    for (std::size_t i = 0; i < metrics_detail_names.size(); ++i) {
        if (metrics_detail_names[i] == text) return static_cast<metrics_detail>(i);
    }
    return std::nullopt;
}

}  // namespace gateway
