// get, put and ping: the protocol as it is, for service work, scripts and health checks.
#include <algorithm>
#include <chrono>

#include "client/commands.h"
#include "client/token_line.h"
#include "client/tool/handlers.h"
#include "protocol/protocol.h"
#include "tools/suggest.h"

namespace ifc_tool {

namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) {
        if (!text.empty()) text += ' ';
        text += w;
    }
    return text;
}

// "; did you mean 'IFC_set_stat'?" among names, or "".
std::string guess_among(const std::string& name, const std::vector<std::string>& names) {
    const std::vector<std::string_view> views(names.begin(), names.end());
    return ifc_tool::did_you_mean(name, views);
}

}  // namespace

reply run_get(session& s, const request& r) {
    if (r.name.empty() || r.name.size() > static_cast<std::size_t>(protocol::name_field_len)) {
        return failed(exit_status::usage, "usage: a read command name has 1 to 20 characters");
    }
    return connected(s, [&](ifc_client::connection& conn) {
        auto answer = conn.get(r.name);
        if (!answer) {
            if (answer.code() == ifc_client::errc::unknown_command) {
                return failed(exit_status::unknown_command,
                              "unknown command '" + r.name +
                                  "': the server has no read command of that name" +
                                  guess_among(r.name, ifc_client::commands::read_commands()));
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
    const auto names = ifc_client::commands::write_commands();
    const bool known = std::find(names.begin(), names.end(), r.name) != names.end();
    // The server ignores a name it does not know without a word, so the client says so
    // instead, before anything is sent.
    if (!known && !r.force) {
        return failed(exit_status::unknown_command, "unknown write command '" + r.name + "'" +
                                                        guess_among(r.name, names) +
                                                        " (--force sends it all the same)");
    }
    return connected(s, [&](ifc_client::connection& conn) {
        if (auto sent = conn.put(r.name, argument); !sent) return failed(sent.failure());
        reply out;
        out.table = "sent " + r.name + " \"" + argument + "\"" +
                    (known ? " (the server does not report the outcome)\n"
                           : " (no write command of this client's has that name: the server "
                             "probably ignored it)\n");
        out.json = {{"command", "put"},
                    {"name", r.name},
                    {"argument", argument},
                    {"sent", true},
                    {"known_command", known}};
        return out;
    });
}

reply run_ping(session& s, const request&) {
    const ifc_client::endpoint where = s.endpoint();
    const std::string target = where.host + ":" + std::to_string(where.port);
    const auto start = std::chrono::steady_clock::now();
    return connected(s, [&](ifc_client::connection& conn) {
        // The server answers neither PING nor DISCONNECT, but it closes the connection after
        // DISCONNECT: a close proves that it has read both, that is, that it serves.
        if (auto sent = conn.ping(); !sent) return failed(sent.failure());
        if (auto closed = conn.disconnect_and_wait(); !closed) return failed(closed.failure());
        const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
        const double millis = static_cast<double>(micros) / 1000.0;
        char time[32];
        std::snprintf(time, sizeof time, "%.1f", millis);
        reply out;
        out.table = "ping: " + target + " is serving (PING and DISCONNECT in " + time + " ms)\n";
        out.json = {{"command", "ping"},
                    {"host", where.host},
                    {"port", where.port},
                    {"ok", true},
                    {"milliseconds", millis}};
        return out;
    });
}

}  // namespace ifc_tool
