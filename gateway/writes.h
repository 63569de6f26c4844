// Writes asked for through the API: checked against the keys and ranges the client library
// allows before they are queued, then applied on a controller connection with a read-back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "client/connection.h"
#include "client/settings_document.h"
#include "client/token_line.h"
#include "gateway/snapshot.h"

namespace gateway {

// What a PATCH changes: the path names it.
enum class write_target { status, selection, targets, valves, histogram_selection };

// A side of the histogram selection; a member left out keeps its present value.
struct histogram_choice {
    std::optional<int> colour;
    std::optional<std::string> item;
};

struct write_request {
    write_target target = write_target::status;
    int colour = 0;  // targets and valves: the weft colour number
    std::vector<ifc_client::change> changes;
    std::optional<histogram_choice> left;
    std::optional<histogram_choice> right;
    // For the logbook: why (the body's optional "reason"), who (http_request::who) and from
    // which address.
    std::string reason{};
    std::string who{};
    std::string address{};
};

// The setting a write read first and read back, each as a settings document holding that line
// only: what the logbook records of the write.
struct written_setting {
    ifc_client::settings_document before;
    ifc_client::settings_document after;
};

// unknown: the request went out whole but its end did not come back; busy: refused at once
// because too many writes wait for the controller.
enum class write_result { applied, refused, not_applied, unreachable, timeout, unknown, busy };
std::string_view result_name(write_result result);  // "applied", "not_applied", ...
inline constexpr std::array<write_result, 7> all_write_results{
    write_result::applied,     write_result::refused, write_result::not_applied,
    write_result::unreachable, write_result::timeout, write_result::unknown,
    write_result::busy};

struct write_outcome {
    write_result result = write_result::applied;
    // 200 applied, 400 refused, 409 not applied, 429 busy, 502 unreachable (or the connection
    // failed after the request went out), 503 the gateway is stopping, 504 too late.
    int status = 200;
    std::string message;           // why it was not applied; empty when it was
    nlohmann::ordered_json reply;  // the JSON answer, "message" included where there is one
    // unknown: the failure after the request went out.
    std::optional<ifc_client::error> unknown_cause;
    // Set when the write read the setting first and back after it (applied, not applied).
    std::optional<written_setting> written;
};

// A refusal (400) with its reason.
write_outcome refused(std::string message);

// The request a JSON body asks for, or the reason it is refused (errc::bad_request): a body
// that is not an object of known keys with whole numbers in their ranges (and an optional
// "reason", write_reason.h), or nothing to change.
ifc_client::result<write_request> parse_write(write_target target, int colour,
                                              std::string_view body);

// Applies the request on an open connection, reading back what it changed, and brings the
// part of the snapshot it touched up to date with the read-back. A write whose outcome is not
// known is result unknown, with its failure in unknown_cause (see unknown_outcome).
write_outcome apply_write(ifc_client::connection& conn, const write_request& request,
                          machine_snapshot* snapshot);

// The outcome for a request that could not be sent at all (the connection failed).
write_outcome connection_failed(const ifc_client::error& failure);
// A request that was not sent: its time ran out while it waited (504), too many wait (429),
// or the gateway is stopping (503).
write_outcome not_sent(write_result result, int status, std::string message);

// The outcome of a write whose request went out but whose end did not come back
// (ifc_client::error::outcome_unknown), after one read-back on a fresh connection: "applied"
// is null, "values" holds what the controller shows now (null when the read-back failed too),
// and the message says what is known. The part of the snapshot the write touched is brought
// up to date with the read-back.
write_outcome unknown_outcome(const ifc_client::error& failure, const write_request& request,
                              ifc_client::result<ifc_client::connection>& fresh,
                              machine_snapshot* snapshot);

}  // namespace gateway
