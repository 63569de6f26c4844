// Writes asked for through the API: checked against the keys and ranges the client library
// allows before they are queued, then applied on a controller connection with a read-back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "client/connection.h"
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
};

enum class write_result { applied, refused, not_applied, unreachable, timeout };
std::string_view result_name(write_result result);  // "applied", "not_applied", ...
inline constexpr std::array<write_result, 5> all_write_results{
    write_result::applied, write_result::refused, write_result::not_applied,
    write_result::unreachable, write_result::timeout};
// The HTTP status the API answers with: 200, 400, 409, 502, 504.
int http_status(write_result result);

struct write_outcome {
    write_result result = write_result::applied;
    std::string message;           // why it was not applied; empty when it was
    nlohmann::ordered_json reply;  // the JSON answer, "message" included where there is one
};

// A refusal (400) with its reason.
write_outcome refused(std::string message);

// The request a JSON body asks for, or the reason it is refused (errc::bad_request): a body
// that is not an object of known keys with whole numbers in their ranges, or nothing to change.
ifc_client::result<write_request> parse_write(write_target target, int colour,
                                              std::string_view body);

// Applies the request on an open connection, reading back what it changed, and brings the
// part of the snapshot it touched up to date with the read-back.
write_outcome apply_write(ifc_client::connection& conn, const write_request& request,
                          machine_snapshot* snapshot);

// The outcome for a request that could not be sent at all (the connection failed).
write_outcome connection_failed(const ifc_client::error& failure);

}  // namespace gateway
