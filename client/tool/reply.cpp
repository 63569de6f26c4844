#include "client/tool/reply.h"

#include <unistd.h>

#include <iostream>

namespace ifc_tool {

reply failed(int status, std::string message) {
    reply r;
    r.status = status;
    r.error = std::move(message);
    return r;
}

reply failed(const ifc_client::error& e) {
    // A request refused before it was sent is the operator's mistake: say so plainly.
    std::string message(e.code == ifc_client::errc::bad_request ? std::string_view("usage")
                        : e.outcome_unknown ? std::string_view("outcome unknown")
                                            : ifc_client::errc_name(e.code));
    if (!e.detail.empty()) message += ": " + e.detail;
    return failed(exit_status::of(e), std::move(message));
}

bool stdout_is_terminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

void print_reply(const reply& r, output_format format) {
    switch (format) {
        case output_format::table:
            std::cout << r.table;
            break;
        case output_format::json:
            if (!r.json.is_null()) std::cout << r.json.dump() << '\n';
            break;
        case output_format::raw:
            for (std::size_t i = 0; i < r.answers.size(); ++i) {
                if (i > 0) std::cout << '\n';
                std::cout << r.answers[i];
            }
            if (!r.answers.empty() && stdout_is_terminal()) std::cout << '\n';
            break;
    }
    std::cout.flush();
    for (const std::string& w : r.warnings)
        std::cerr << "ifc-client: warning: " << w << '\n';
    // A status without an error line is an answer, not a failure (diff: "different").
    if (r.status != exit_status::ok && !r.error.empty()) {
        std::cerr << "ifc-client: " << r.error << '\n';
    }
    std::cerr.flush();
}

nlohmann::ordered_json json_of(std::span<const ifc_client::token> line) {
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    for (const auto& t : line)
        values[t.key] = t.value;
    return values;
}

}  // namespace ifc_tool
