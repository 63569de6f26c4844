#include "proxy/seeded_draw.h"

namespace proxy {

namespace {

// The finaliser of SplitMix64: every input bit affects every output bit.
std::uint64_t mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace

double seeded_draw(std::uint64_t seed, std::uint64_t rule, std::uint64_t match,
                   draw_purpose purpose) {
    std::uint64_t x = mix(seed);
    x = mix(x ^ rule);
    x = mix(x ^ match);
    x = mix(x ^ static_cast<std::uint64_t>(purpose));
    // The top 53 bits as a fraction: every double in [0, 1) that this can give is equally likely.
    return static_cast<double>(x >> 11) * 0x1.0p-53;
}

}  // namespace proxy
