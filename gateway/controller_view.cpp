#include "gateway/controller_view.h"

namespace gateway {

std::optional<double> controller_view::age_seconds(steady_clock::time_point now) const {
    if (!last_good) return std::nullopt;
    return std::chrono::duration<double>(now - *last_good).count();
}

bool controller_view::stale(steady_clock::time_point now,
                            std::chrono::milliseconds interval) const {
    return !last_good || now - *last_good > 3 * interval;
}

controller_header controller_view::header(steady_clock::time_point now,
                                          std::chrono::milliseconds interval) const {
    return controller_header{address.name,         address.text(),   reachable,
                             stale(now, interval), age_seconds(now), last_good_wall,
                             last_error,           address.group,    drift};
}

}  // namespace gateway
