#include "client/tool/run_command.h"

namespace {

bool has_changes(const request& r) {
    return !r.words.empty();
}

}  // namespace

bool is_read_only(const request& r) {
    if (r.verb == "get" || r.verb == "timing") return true;
    if (r.verb == "status" || r.verb == "select" || r.verb == "targets" || r.verb == "valves") {
        return !has_changes(r);
    }
    if (r.verb == "histogram") {
        return (r.words.size() == 1 &&
                (r.words[0] == "left" || r.words[0] == "right" || r.words[0] == "select"));
    }
    return false;
}

reply run_command(session& s, const request& r) {
    if (r.verb == "get") return run_get(s, r);
    if (r.verb == "put") return run_put(s, r);
    if (r.verb == "ping") return run_ping(s);
    if (r.verb == "status") return run_status(s, r);
    if (r.verb == "select") return run_select(s, r);
    if (r.verb == "targets") return run_targets(s, r);
    if (r.verb == "valves") return run_valves(s, r);
    if (r.verb == "timing") return run_timing(s, r);
    if (r.verb == "histogram") return run_histogram(s, r);
    return failed(exit_status::usage, "unknown command \"" + r.verb + "\"");
}
