// A controller as the API shows it in JSON, built in this one place: the members every form
// starts with (the header), the snapshot, the fleet list's entry and the histogram in its two
// forms. The snapshot's part is rendered once, when a poll (or a write's read-back) brings it,
// and shared by every viewer; the header tells the state at the time of asking and is added to
// it for each request.
#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "client/histogram.h"
#include "client/token_line.h"
#include "gateway/drift_summary.h"
#include "gateway/snapshot.h"

namespace gateway {

// {"color":1,"mode":0,...}: a token line as an object, in answer order.
nlohmann::ordered_json line_json(const ifc_client::token_line& line);
// {"left":{"colour":1,"item":"tw"},"right":{...}}
nlohmann::ordered_json histogram_selection_json(const ifc_client::histogram_selection& selection);

// A side's histogram: in the snapshot with the summary, on a fleet card with the side named and
// without it.
enum class histogram_form { snapshot, card };
nlohmann::ordered_json histogram_json(ifc_client::histogram_side side,
                                      const ifc_client::histogram& histogram,
                                      const ifc_client::side_choice& shows, histogram_form form);

// What every form tells of a controller besides its snapshot.
struct controller_header {
    std::string name;
    std::string address;  // host:port
    bool reachable = false;
    bool stale = true;
    std::optional<double> age_seconds;  // none before the first good poll
    std::optional<std::chrono::system_clock::time_point> polled_at;
    std::string last_error;  // empty when there is none
    // The fleet list's own members: the group the configuration puts it in (empty: none), and
    // its drift from an assigned library version (none without an assignment).
    std::string group;
    std::optional<drift_summary> drift;
};

// One snapshot's JSON, rendered when it is made.
class controller_json {
  public:
    explicit controller_json(const machine_snapshot& snapshot);

    // The fleet list's entry: the header, "group" and "drift" (null when there is none),
    // "status" and the left "histogram" as a card shows it (both null without a snapshot).
    static std::string list_entry(const controller_header& header, const controller_json* rendered);
    // The whole controller: the header and its drift, then the snapshot's members (each null
    // without one).
    static std::string whole(const controller_header& header, const controller_json* rendered);
    // [entry,...] of list entries.
    static std::string list(std::span<const std::string> entries);

  private:
    std::vector<std::string> members_;  // the snapshot's members as JSON texts, in their order
    std::size_t members_size_ = 0;      // their length with their names, in an object
    std::string card_histogram_;
};

}  // namespace gateway
