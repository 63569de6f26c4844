#include "gateway/metrics.h"

#include <charconv>
#include <map>

#include "client/commands.h"

namespace gateway {

namespace {

namespace cmd = ifc_client::commands;

enum class kind { gauge, counter };

struct family {
    std::string_view help;
    kind type;
    std::string samples;
};

// A label value with backslash, double quote and line feed escaped.
std::string escaped(std::string_view value) {
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

std::string number(double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string("NaN");
}

// Collects samples per family, so that each family's HELP and TYPE lines come once, before
// all of its samples, whatever order the controllers add them in.
class exposition {
  public:
    explicit exposition(std::string base_labels) : base_(std::move(base_labels)) {}

    void add(std::string_view name, std::string_view help, kind type, double value,
             std::initializer_list<std::pair<std::string_view, std::string>> labels = {}) {
        auto [it, fresh] = families_.try_emplace(std::string(name), family{help, type, {}});
        if (fresh) order_.push_back(it->first);
        std::string& out = it->second.samples;
        out += name;
        std::string all = base_;
        for (const auto& [label, label_value] : labels) {
            if (!all.empty()) all += ',';
            all += std::string(label) + "=\"" + escaped(label_value) + "\"";
        }
        if (!all.empty()) out += "{" + all + "}";
        out += ' ';
        out += number(value);
        out += '\n';
    }

    std::string text() const {
        std::string out;
        for (const std::string& name : order_) {
            const family& f = families_.at(name);
            out += "# HELP " + name + " " + std::string(f.help) + "\n";
            out += "# TYPE " + name + (f.type == kind::counter ? " counter\n" : " gauge\n");
            out += f.samples;
        }
        return out;
    }

    void set_base(std::string base_labels) { base_ = std::move(base_labels); }

  private:
    std::string base_;
    std::map<std::string, family> families_;
    std::vector<std::string> order_;
};

std::string controller_label(const std::string& name) {
    return "controller=\"" + escaped(name) + "\"";
}

void add_snapshot(exposition& e, const machine_snapshot& s) {
    for (const auto& item : s.status) {
        e.add("ifc_machine_status", "Machine status: selected weft colour, mode, TO/TW switch",
              kind::gauge, item.value, {{"item", item.key}});
    }
    for (const auto& item : s.selection) {
        e.add("ifc_device_selected", "1 when the device or sub nozzle is selected", kind::gauge,
              item.value, {{"device", item.key}});
    }
    for (int colour = 1; colour <= colour_count; ++colour) {
        const colour_values& c = s.colour(colour);
        const std::string number_text = std::to_string(colour);
        for (const auto& item : c.targets) {
            e.add("ifc_target_degrees", "Arrival-timing target per weft colour", kind::gauge,
                  item.value, {{"colour", number_text}, {"target", item.key}});
        }
        for (const auto& item : c.timing) {
            e.add("ifc_timing_degrees", "Measured arrival timing per weft colour", kind::gauge,
                  item.value, {{"colour", number_text}, {"value", item.key}});
        }
        for (const auto& item : c.averages) {
            e.add("ifc_timing_average_degrees", "Averages of the arrival timing per weft colour",
                  kind::gauge, item.value, {{"colour", number_text}, {"value", item.key}});
        }
        for (const auto& item : c.valves) {
            if (item.key == cmd::valve_constant_key) continue;
            const auto underscore = item.key.rfind('_');
            e.add("ifc_valve_angle_degrees", "Valve on or off angle per weft colour", kind::gauge,
                  item.value,
                  {{"colour", number_text},
                   {"valve", item.key.substr(0, underscore)},
                   {"edge", item.key.substr(underscore + 1)}});
        }
    }
    const std::pair<ifc_client::histogram_side, std::string> sides[] = {
        {ifc_client::histogram_side::left, "left"}, {ifc_client::histogram_side::right, "right"}};
    for (const auto& [side, side_text] : sides) {
        const auto& h = s.histogram_of(side);
        const auto& shows = s.histogram_selection.of(side);
        e.add("ifc_arrival_shown_colour", "Weft colour the histogram shows", kind::gauge,
              shows.colour, {{"side", side_text}});
        e.add("ifc_arrival_shown_item_info", "Timing item the histogram shows (always 1)",
              kind::gauge, 1, {{"side", side_text}, {"item", shows.item}});
        for (std::size_t i = 0; i < histogram_summary_names.size(); ++i) {
            e.add("ifc_arrival_statistic", "Summary values of the histogram", kind::gauge,
                  h.summary[i].value,
                  {{"side", side_text}, {"value", std::string(histogram_summary_names[i])}});
        }
        for (std::size_t bin = 0; bin < h.bins.size(); ++bin) {
            e.add("ifc_arrival_bin_samples", "Samples in one bin of the histogram", kind::gauge,
                  static_cast<double>(h.bins[bin]),
                  {{"side", side_text}, {"bin", std::to_string(bin)}});
        }
    }
}

}  // namespace

std::string fleet_metrics(const std::vector<controller_view>& views, steady_clock::time_point now) {
    exposition e("");
    for (const controller_view& v : views) {
        e.set_base(controller_label(v.address.name));
        e.add("ifc_up", "1 when the last poll of the controller succeeded", kind::gauge,
              v.reachable ? 1 : 0);
        e.add("ifc_poll_duration_seconds", "Duration of the last poll, connect to disconnect",
              kind::gauge, v.last_poll_seconds);
        e.add("ifc_slot_hold_max_seconds",
              "Longest time a poll or write session held the controller's client slot", kind::gauge,
              v.max_hold_seconds);
        e.add("ifc_polls_total", "Polls of the controller", kind::counter,
              static_cast<double>(v.polls));
        e.add("ifc_poll_failures_total", "Polls that failed", kind::counter,
              static_cast<double>(v.poll_failures));
        e.add("ifc_controller_connections_total", "Connections opened to the controller",
              kind::counter, static_cast<double>(v.connections));
        if (const auto age = v.age_seconds(now)) {
            e.add("ifc_snapshot_age_seconds", "Age of the last good snapshot", kind::gauge, *age);
        }
        for (write_result r : all_write_results) {
            e.add("ifc_writes_total", "Writes asked for through the API, by outcome", kind::counter,
                  static_cast<double>(v.writes[static_cast<std::size_t>(r)]),
                  {{"outcome", std::string(result_name(r))}});
        }
        if (v.snapshot) add_snapshot(e, *v.snapshot);
    }
    return e.text();
}

std::string probe_metrics(const poll_outcome& outcome) {
    exposition e("");
    e.add("ifc_up", "1 when the controller answered the whole poll", kind::gauge,
          outcome.snapshot ? 1 : 0);
    e.add("ifc_poll_duration_seconds", "Duration of the poll, connect to disconnect", kind::gauge,
          outcome.poll_seconds);
    if (outcome.snapshot) add_snapshot(e, outcome.snapshot.value());
    return e.text();
}

}  // namespace gateway
