#include "gateway/metrics.h"

#include <atomic>
#include <charconv>
#include <functional>

#include "client/commands.h"
#include "gateway/peer_text.h"
#include "protocol/protocol.h"

namespace gateway {

namespace {

namespace cmd = ifc_client::commands;

// What one exposition is made of: per controller (or for the one probed controller) its
// poll and its snapshot. view is null for a probe.
struct source {
    std::string labels;  // `controller="loom1"`, or empty
    const controller_view* view = nullptr;
    bool up = false;
    double poll_seconds = 0;
    const machine_snapshot* snapshot = nullptr;
    std::optional<double> age_seconds;
};

// A label value as the exposition format takes it: valid UTF-8 (a controller's bytes that are
// not are written as \xNN, so that one odd answer cannot make a scrape fail as a whole), with
// backslash, double quote and line feed escaped.
std::string escaped(std::string_view value) {
    std::string out;
    for (char c : peer_text(value)) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

// Appends samples of one family straight to the exposition text.
class sample_writer {
  public:
    sample_writer(std::string& out, std::string_view name, const std::string& base)
        : out_(out), name_(name), base_(base) {}

    void add(double value,
             std::initializer_list<std::pair<std::string_view, std::string_view>> labels = {}) {
        out_ += name_;
        bool first = base_.empty();
        if (!first) {
            out_ += '{';
            out_ += base_;
        }
        for (const auto& [label, label_value] : labels) {
            out_ += first ? '{' : ',';
            first = false;
            out_ += label;
            out_ += "=\"";
            out_ += escaped(label_value);
            out_ += '"';
        }
        if (!first) out_ += '}';
        out_ += ' ';
        char text[32];
        const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
        out_.append(text, ec == std::errc() ? end : text);
        out_ += '\n';
    }

  private:
    std::string& out_;
    std::string_view name_;
    const std::string& base_;
};

enum class kind { gauge, counter };
enum class needs { anything, view, snapshot };

struct family {
    std::string_view name;
    std::string_view help;
    kind type;
    needs need;
    std::function<void(const source&, sample_writer&)> samples;
};

constexpr std::array<std::pair<ifc_client::histogram_side, std::string_view>, 2> sides{
    {{ifc_client::histogram_side::left, "left"}, {ifc_client::histogram_side::right, "right"}}};

// The colour numbers as label values, made once.
const std::string& colour_text(int colour) {
    static const auto texts = [] {
        std::array<std::string, protocol::colour_count> made;
        for (int c = protocol::first_colour; c <= protocol::last_colour; ++c)
            made[static_cast<std::size_t>(c - protocol::first_colour)] = std::to_string(c);
        return made;
    }();
    return texts[static_cast<std::size_t>(colour - protocol::first_colour)];
}

template <class Line>
void per_colour(const source& s, sample_writer& w, Line line, std::string_view label) {
    for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
        for (const auto& item : line(s.snapshot->colour(colour))) {
            w.add(item.value, {{"colour", colour_text(colour)}, {label, item.key}});
        }
    }
}

// Every family, in the order of the exposition.
const std::vector<family>& families() {
    static const std::vector<family> all{
        {"ifc_up", "1 when the last poll of the controller succeeded", kind::gauge, needs::anything,
         [](const source& s, sample_writer& w) { w.add(s.up ? 1 : 0); }},
        {"ifc_poll_duration_seconds", "Duration of the last poll, connect to disconnect",
         kind::gauge, needs::anything,
         [](const source& s, sample_writer& w) { w.add(s.poll_seconds); }},
        {"ifc_slot_hold_max_seconds",
         "Longest time a poll or write session held the controller's client slot", kind::gauge,
         needs::view, [](const source& s, sample_writer& w) { w.add(s.view->max_hold_seconds); }},
        {"ifc_polls_total", "Polls of the controller", kind::counter, needs::view,
         [](const source& s, sample_writer& w) { w.add(static_cast<double>(s.view->polls)); }},
        {"ifc_poll_failures_total", "Polls that failed", kind::counter, needs::view,
         [](const source& s, sample_writer& w) {
             w.add(static_cast<double>(s.view->poll_failures));
         }},
        {"ifc_controller_connections_total", "Connections opened to the controller", kind::counter,
         needs::view,
         [](const source& s, sample_writer& w) {
             w.add(static_cast<double>(s.view->connections));
         }},
        {"ifc_snapshot_age_seconds", "Age of the last good snapshot", kind::gauge, needs::view,
         [](const source& s, sample_writer& w) {
             if (s.age_seconds) w.add(*s.age_seconds);
         }},
        {"ifc_writes_total", "Writes asked for through the API, by outcome", kind::counter,
         needs::view,
         [](const source& s, sample_writer& w) {
             for (write_result r : all_write_results) {
                 w.add(static_cast<double>(s.view->writes[static_cast<std::size_t>(r)]),
                       {{"outcome", result_name(r)}});
             }
         }},
        {"ifc_machine_status", "Machine status: selected weft colour, mode, TO/TW switch",
         kind::gauge, needs::snapshot,
         [](const source& s, sample_writer& w) {
             for (const auto& item : s.snapshot->status)
                 w.add(item.value, {{"item", item.key}});
         }},
        {"ifc_device_selected", "1 when the device or sub nozzle is selected", kind::gauge,
         needs::snapshot,
         [](const source& s, sample_writer& w) {
             for (const auto& item : s.snapshot->selection) {
                 w.add(item.value, {{"device", item.key}});
             }
         }},
        {"ifc_target_degrees", "Arrival-timing target per weft colour", kind::gauge,
         needs::snapshot,
         [](const source& s, sample_writer& w) {
             per_colour(
                 s, w, [](const colour_values& c) -> auto& { return c.targets; }, "target");
         }},
        {"ifc_timing_degrees", "Measured arrival timing per weft colour", kind::gauge,
         needs::snapshot,
         [](const source& s, sample_writer& w) {
             per_colour(
                 s, w, [](const colour_values& c) -> auto& { return c.timing; }, "value");
         }},
        {"ifc_timing_average_degrees", "Averages of the arrival timing per weft colour",
         kind::gauge, needs::snapshot,
         [](const source& s, sample_writer& w) {
             per_colour(
                 s, w, [](const colour_values& c) -> auto& { return c.averages; }, "value");
         }},
        {"ifc_valve_angle_degrees", "Valve on or off angle per weft colour", kind::gauge,
         needs::snapshot,
         [](const source& s, sample_writer& w) {
             for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
                 for (const auto& item : s.snapshot->colour(colour).valves) {
                     if (item.key == cmd::valve_constant_key) continue;
                     const std::string_view key = item.key;
                     const auto underscore = key.rfind('_');
                     w.add(item.value, {{"colour", colour_text(colour)},
                                        {"valve", key.substr(0, underscore)},
                                        {"edge", key.substr(underscore + 1)}});
                 }
             }
         }},
        {"ifc_arrival_shown_colour", "Weft colour the histogram shows", kind::gauge,
         needs::snapshot,
         [](const source& s, sample_writer& w) {
             for (const auto& [side, name] : sides) {
                 w.add(s.snapshot->histogram_selection.of(side).colour, {{"side", name}});
             }
         }},
        {"ifc_arrival_shown_item_info", "Timing item the histogram shows (always 1)", kind::gauge,
         needs::snapshot,
         [](const source& s, sample_writer& w) {
             for (const auto& [side, name] : sides) {
                 w.add(1,
                       {{"side", name}, {"item", s.snapshot->histogram_selection.of(side).item}});
             }
         }},
        {"ifc_arrival_statistic", "Summary values of the histogram", kind::gauge, needs::snapshot,
         [](const source& s, sample_writer& w) {
             for (const auto& [side, name] : sides) {
                 const auto& h = s.snapshot->histogram_of(side);
                 for (std::size_t i = 0; i < ifc_client::summary_names.size(); ++i) {
                     w.add(h.summary[i].value,
                           {{"side", name}, {"value", ifc_client::summary_names[i]}});
                 }
             }
         }},
        {"ifc_arrival_bin_samples", "Samples in one bin of the histogram", kind::gauge,
         needs::snapshot,
         [](const source& s, sample_writer& w) {
             static const auto bin_texts = [] {
                 std::array<std::string, ifc_client::histogram_bins> texts;
                 for (std::size_t bin = 0; bin < texts.size(); ++bin)
                     texts[bin] = std::to_string(bin);
                 return texts;
             }();
             for (const auto& [side, name] : sides) {
                 const auto& bins = s.snapshot->histogram_of(side).bins;
                 for (std::size_t bin = 0; bin < bins.size(); ++bin) {
                     w.add(static_cast<double>(bins[bin]),
                           {{"side", name}, {"bin", bin_texts[bin]}});
                 }
             }
         }},
    };
    return all;
}

bool applies(const family& f, const source& s) {
    switch (f.need) {
        case needs::anything:
            return true;
        case needs::view:
            return s.view != nullptr;
        case needs::snapshot:
            return s.snapshot != nullptr;
    }
    return false;
}

// Family by family, each announced once before the samples of every source, written straight
// into one string reserved at the size of the last exposition of its kind (no copies, no
// doubling of the text).
std::string render(const std::vector<source>& sources, std::atomic<std::size_t>& last_size) {
    std::string out;
    out.reserve(last_size.load() + last_size.load() / 8);
    for (const family& f : families()) {
        bool announced = false;
        for (const source& s : sources) {
            if (!applies(f, s)) continue;
            if (!announced) {
                out += "# HELP ";
                out += f.name;
                out += ' ';
                out += f.help;
                out += "\n# TYPE ";
                out += f.name;
                out += f.type == kind::counter ? " counter\n" : " gauge\n";
                announced = true;
            }
            sample_writer writer(out, f.name, s.labels);
            f.samples(s, writer);
        }
    }
    last_size = out.size();
    return out;
}

}  // namespace

std::string fleet_metrics(const std::vector<controller_view>& views, steady_clock::time_point now) {
    std::vector<source> sources;
    sources.reserve(views.size());
    for (const controller_view& v : views) {
        sources.push_back(source{"controller=\"" + escaped(v.address.name) + "\"", &v, v.reachable,
                                 v.last_poll_seconds, v.snapshot.get(), v.age_seconds(now)});
    }
    static std::atomic<std::size_t> last_size{0};
    return render(sources, last_size);
}

std::string probe_metrics(const poll_outcome& outcome) {
    const source probed{"",
                        nullptr,
                        outcome.snapshot.ok(),
                        outcome.poll_seconds,
                        outcome.snapshot ? &outcome.snapshot.value() : nullptr,
                        std::nullopt};
    static std::atomic<std::size_t> last_size{0};
    return render({probed}, last_size);
}

}  // namespace gateway
