// A Prometheus histogram of durations, 1 ms to 10 s: how long polls take and how long the
// controller's single client slot is held, over the gateway's whole run.
#pragma once

#include <array>
#include <cstdint>

namespace gateway {

// The upper bounds of the buckets in seconds, below the last one (+Inf). A poll of a healthy
// controller takes a few milliseconds; the deadlines reach seconds, a write session its
// write deadline (10 s).
inline constexpr std::array<double, 13> duration_bounds{0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1,
                                                        0.2,   0.5,   1,     2,    5,    10};

struct duration_histogram {
    // Observations per bucket, not cumulative; the last one is past every bound.
    std::array<std::uint64_t, duration_bounds.size() + 1> buckets{};
    double sum = 0;
    std::uint64_t count = 0;

    void observe(double seconds) {
        std::size_t bucket = 0;
        while (bucket < duration_bounds.size() && seconds > duration_bounds[bucket])
            ++bucket;
        ++buckets[bucket];
        sum += seconds;
        ++count;
    }
};

}  // namespace gateway
