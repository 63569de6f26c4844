// The gateway fed arbitrary controller answers (fuzz/gateway_answers_input.h), in memory: the
// answers of one poll make a snapshot (or a failure), which goes through everything the
// gateway shows of a controller: its JSON as a list entry and whole, the fleet's metrics and
// the /probe metrics. Whatever the answers hold:
//   - nothing throws and nothing crashes;
//   - every JSON text is valid JSON (valid UTF-8 included) and reads back as it was written;
//   - every metrics text is valid UTF-8, and each line is a comment or a sample of ours (a line
//     feed from a controller cannot start a line of its own).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/gateway_answers_input.h"
#include "gateway/controller_json.h"
#include "gateway/controller_poller.h"
#include "gateway/controller_view.h"
#include "gateway/metrics.h"
#include "gateway/snapshot.h"

namespace {

using json = nlohmann::ordered_json;

void check(bool holds) {
    if (!holds) std::abort();
}

void check_json(const std::string& text) {
    const json parsed = json::parse(text, nullptr, false);
    check(!parsed.is_discarded());
    check(parsed.dump() == text);
}

// Valid UTF-8, as a JSON writer that refuses anything else finds it.
bool valid_utf8(const std::string& text) {
    try {
        (void)json(text).dump();
        return true;
    } catch (const json::type_error&) {
        return false;
    }
}

void check_metrics(const std::string& text) {
    check(valid_utf8(text));
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        check(end != std::string::npos);  // every line ends
        const std::string_view line(text.data() + start, end - start);
        // The gateway's own families and the standard process ones.
        std::string_view name = line;
        if (name.starts_with("# HELP ") || name.starts_with("# TYPE ")) name.remove_prefix(7);
        check(name.starts_with("ifc_") || name.starts_with("process_"));
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto answers = gateway_answers_input::split(input);
    std::size_t next = 0;
    const gateway::answer_source source =
        [&](std::string_view name) -> ifc_client::result<std::string> {
        if (next >= answers.size()) {
            return ifc_client::error{ifc_client::errc::unknown_command, std::string(name)};
        }
        std::string_view answer = answers[next++];
        if (answer.starts_with(gateway_answers_input::failure_mark)) {
            answer.remove_prefix(1);
            const auto code =
                static_cast<ifc_client::errc>(answer.empty() ? 0 : answer.front() % 8);
            if (!answer.empty()) answer.remove_prefix(1);
            return ifc_client::error{code, std::string(answer)};
        }
        return std::string(answer);
    };

    gateway::poll_outcome outcome;
    outcome.snapshot = gateway::read_snapshot(source);
    outcome.connected = true;
    outcome.poll_seconds = 0.004;

    gateway::controller_view view;
    view.address = {"loom1", "127.0.0.1", 9002};
    view.polled = true;
    view.polls = 1;
    const auto now = gateway::steady_clock::now();
    if (outcome.snapshot) {
        view.reachable = true;
        view.last_good = now;
        view.last_good_wall = std::chrono::system_clock::now();
        view.snapshot = std::make_shared<const gateway::machine_snapshot>(outcome.snapshot.value());
        view.json = std::make_shared<const gateway::controller_json>(*view.snapshot);
    } else {
        view.last_error = gateway::describe_failure(outcome.snapshot.failure());
        view.poll_failures = 1;
    }
    const auto header = view.header(now, std::chrono::milliseconds(2000));
    const std::string entry = gateway::controller_json::list_entry(header, view.json.get());
    check_json(entry);
    check_json(gateway::controller_json::whole(header, view.json.get()));
    check_json(gateway::controller_json::list(std::vector<std::string>{entry, entry}));
    check_metrics(gateway::fleet_metrics({view}, now, gateway::metrics_detail::full));
    check_metrics(gateway::probe_metrics(outcome, "probed", gateway::metrics_detail::full));
    return 0;
}
