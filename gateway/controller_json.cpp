#include "gateway/controller_json.h"

#include <array>
#include <cmath>
#include <ctime>

#include "gateway/json_text.h"
#include "gateway/peer_text.h"
#include "protocol/protocol.h"

namespace gateway {

namespace {

using json = nlohmann::ordered_json;
using ifc_client::histogram_side;

// An object made of members whose values are JSON texts already, written as dump() writes
// one: {"key":value,...}, without blanks. The keys are the API's own member names, letters and
// underscores that need no escape.
class object_text {
  public:
    explicit object_text(std::size_t expected_size) {
        text_.reserve(expected_size);
        text_ += '{';
    }
    void add(std::string_view key, std::string_view value) {
        if (text_.size() > 1) text_ += ',';
        text_ += '"';
        text_ += key;
        text_ += "\":";
        text_ += value;
    }
    void add_members(const json& object) {
        for (const auto& [key, value] : object.items())
            add(key, json_text(value));
    }
    std::string finish() && {
        text_ += '}';
        return std::move(text_);
    }

  private:
    std::string text_;
};

// Room for the header's members (an error text may make them longer).
constexpr std::size_t header_size = 512;

constexpr std::string_view null_text = "null";

std::string iso_time(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Seconds to the millisecond.
json rounded(std::optional<double> seconds) {
    if (!seconds) return nullptr;
    return std::round(*seconds * 1000) / 1000;
}

json header_json(const controller_header& h) {
    return {{"name", h.name},
            {"address", h.address},
            {"reachable", h.reachable},
            {"stale", h.stale},
            {"age_seconds", rounded(h.age_seconds)},
            {"polled_at", h.polled_at ? json(iso_time(*h.polled_at)) : json(nullptr)},
            {"last_error", h.last_error.empty() ? json(nullptr) : json(peer_text(h.last_error))}};
}

// {"version":{"name":"denim-12","version":3},"differences":4}, or null.
json drift_json(const std::optional<drift_summary>& drift) {
    if (!drift) return nullptr;
    return {{"version", {{"name", drift->version.name}, {"version", drift->version.version}}},
            {"differences", drift->differences ? json(*drift->differences) : json(nullptr)}};
}

json colour_json(int number, const colour_values& values) {
    return {{"colour", number},
            {"targets", line_json(values.targets)},
            {"timing", line_json(values.timing)},
            {"averages", line_json(values.averages)},
            {"valves", line_json(values.valves)}};
}

json colours_json(const machine_snapshot& s) {
    json colours = json::array();
    for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour)
        colours.push_back(colour_json(colour, s.colour(colour)));
    return colours;
}

json histograms_json(const machine_snapshot& s) {
    json both = json::object();
    for (const histogram_side side : {histogram_side::left, histogram_side::right}) {
        both[std::string(ifc_client::side_name(side))] = histogram_json(
            side, s.histogram_of(side), s.histogram_selection.of(side), histogram_form::snapshot);
    }
    return both;
}

// The snapshot's members, in the order the API shows them.
struct snapshot_member {
    std::string_view name;
    json (*render)(const machine_snapshot&);
};
constexpr std::array<snapshot_member, 5> snapshot_members{{
    {"status", [](const machine_snapshot& s) { return line_json(s.status); }},
    {"selection", [](const machine_snapshot& s) { return line_json(s.selection); }},
    {"colours", colours_json},
    {"histograms", histograms_json},
    {"histogram_selection",
     [](const machine_snapshot& s) { return histogram_selection_json(s.histogram_selection); }},
}};
// The list entry shows the snapshot's status as it is.
constexpr std::size_t status_member = 0;
static_assert(snapshot_members[status_member].name == "status");

}  // namespace

json line_json(const ifc_client::token_line& line) {
    json object = json::object();
    for (const auto& item : line)
        object[item.key] = item.value;
    return object;
}

json histogram_selection_json(const ifc_client::histogram_selection& selection) {
    json both = json::object();
    for (const histogram_side side : {histogram_side::left, histogram_side::right}) {
        const auto& shows = selection.of(side);
        both[std::string(ifc_client::side_name(side))] = {{"colour", shows.colour},
                                                          {"item", peer_text(shows.item)}};
    }
    return both;
}

json histogram_json(histogram_side side, const ifc_client::histogram& histogram,
                    const ifc_client::side_choice& shows, histogram_form form) {
    json shape = json::object();
    if (form == histogram_form::card) shape["side"] = ifc_client::side_name(side);
    shape["colour"] = shows.colour;
    shape["item"] = peer_text(shows.item);
    if (form == histogram_form::snapshot) {
        json summary = json::object();
        for (std::size_t i = 0; i < ifc_client::summary_names.size(); ++i) {
            const auto& value = histogram.summary[i];
            summary[std::string(ifc_client::summary_names[i])] =
                value.whole ? json(static_cast<std::int64_t>(value.value)) : json(value.value);
        }
        shape["summary"] = std::move(summary);
    }
    shape["bins"] = histogram.bins;
    return shape;
}

controller_json::controller_json(const machine_snapshot& s)
    : card_histogram_(json_text(histogram_json(histogram_side::left, s.left,
                                               s.histogram_selection.left, histogram_form::card))) {
    members_.reserve(snapshot_members.size());
    for (const snapshot_member& member : snapshot_members) {
        members_.push_back(json_text(member.render(s)));
        members_size_ += member.name.size() + members_.back().size() + 4;
    }
}

std::string controller_json::list_entry(const controller_header& header,
                                        const controller_json* rendered) {
    object_text entry(header_size + (rendered ? rendered->members_[status_member].size() +
                                                    rendered->card_histogram_.size()
                                              : 0));
    entry.add_members(header_json(header));
    entry.add("group", header.group.empty() ? null_text : json(header.group).dump());
    entry.add("drift", drift_json(header.drift).dump());
    entry.add("status", rendered ? std::string_view(rendered->members_[status_member]) : null_text);
    entry.add("histogram", rendered ? std::string_view(rendered->card_histogram_) : null_text);
    return std::move(entry).finish();
}

std::string controller_json::whole(const controller_header& header,
                                   const controller_json* rendered) {
    object_text body(header_size + (rendered ? rendered->members_size_ : 0));
    body.add_members(header_json(header));
    body.add("drift", drift_json(header.drift).dump());
    for (std::size_t i = 0; i < snapshot_members.size(); ++i)
        body.add(snapshot_members[i].name,
                 rendered ? std::string_view(rendered->members_[i]) : null_text);
    return std::move(body).finish();
}

std::string controller_json::list(std::span<const std::string> entries) {
    std::string text = "[";
    for (const std::string& entry : entries) {
        if (text.size() > 1) text += ',';
        text += entry;
    }
    text += ']';
    return text;
}

}  // namespace gateway
