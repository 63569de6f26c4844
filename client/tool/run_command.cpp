#include "client/tool/run_command.h"

#include "client/tool/verbs.h"

namespace ifc_tool {

bool is_read_only(const request& r) {
    const verb* v = find_verb(r.verb);
    return v != nullptr && v->read_only(r);
}

reply run_command(session& s, const request& r) {
    const verb* v = find_verb(r.verb);
    if (v == nullptr) return failed(exit_status::usage, "unknown command '" + r.verb + "'");
    return v->run(s, r);
}

}  // namespace ifc_tool
