// get, put and ping: the protocol as it is, for service work and scripts.
#include <algorithm>

#include "client/commands.h"
#include "client/token_line.h"
#include "client/tool/run_command.h"
#include "lib/protocol.h"

namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) {
        if (!text.empty()) text += ' ';
        text += w;
    }
    return text;
}

bool is_known_write(const std::string& name) {
    const auto names = ifc_client::commands::write_commands();
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

reply run_get(session& s, const request& r) {
    if (r.name.empty() || r.name.size() > static_cast<std::size_t>(protocol::name_field_len)) {
        return failed(exit_status::usage, "a read command name has 1 to 20 characters");
    }
    return connected(s, [&](ifc_client::connection& conn) {
        auto answer = conn.get(r.name);
        if (!answer) {
            if (answer.code() == ifc_client::errc::unknown_command) {
                return failed(exit_status::unknown_command,
                              "unknown command \"" + r.name +
                                  "\": the server has no read command of that name");
            }
            return failed(answer.failure());
        }
        reply out;
        out.answers.push_back(answer.value());
        out.table = answer.value() + "\n";
        out.json = {{"command", "get"}, {"name", r.name}, {"answer", answer.value()}};
        // Settings answers are token lines: give scripts their values as well.
        if (auto line = ifc_client::parse_token_line(answer.value()); line && !line->empty()) {
            out.json["values"] = json_of(line.value());
        }
        return out;
    });
}

reply run_put(session& s, const request& r) {
    const std::string argument = joined(r.words);
    return connected(s, [&](ifc_client::connection& conn) {
        if (auto sent = conn.put(r.name, argument); !sent) return failed(sent.failure());
        const bool known = is_known_write(r.name);
        reply out;
        out.table = "sent " + r.name + " \"" + argument + "\"" +
                    (known ? " (the server does not report the outcome)\n"
                           : " (the server has no write command of that name as far as this "
                             "client knows: it probably did nothing)\n");
        out.json = {{"command", "put"},
                    {"name", r.name},
                    {"argument", argument},
                    {"sent", true},
                    {"known_command", known}};
        return out;
    });
}

reply run_ping(session& s) {
    const ifc_client::endpoint where = s.endpoint();
    return connected(s, [&](ifc_client::connection& conn) {
        if (auto sent = conn.ping(); !sent) return failed(sent.failure());
        // The server answers nothing; one that closed the connection did not take the PING.
        if (conn.server_closed(std::chrono::milliseconds(100))) {
            return failed(exit_status::protocol, "the server closed the connection after PING");
        }
        reply out;
        out.table = "ping: " + where.host + ":" + std::to_string(where.port) +
                    " accepted the connection and the PING\n";
        out.json = {{"command", "ping"}, {"host", where.host}, {"port", where.port}, {"ok", true}};
        return out;
    });
}
