#include "gateway/metrics.h"

#include <array>
#include <atomic>
#include <charconv>
#include <functional>

#include "client/commands.h"
#include "gateway/peer_text.h"
#include "gateway/process_metrics.h"
#include "protocol/protocol.h"

namespace gateway {

namespace {

namespace cmd = ifc_client::commands;

// What one exposition is made of: per controller (or for the one probed controller) its
// poll and its snapshot.
struct source {
    std::string labels;                     // `controller="loom1"`
    const controller_view* view = nullptr;  // null for a probe
    std::optional<double> probe_seconds;    // a probe's one poll
    bool up = false;
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

void append_number(std::string& out, double value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, ec == std::errc() ? end : text);
}

using label_list = std::initializer_list<std::pair<std::string_view, std::string_view>>;

// Appends samples of one family straight to the exposition text.
class sample_writer {
  public:
    sample_writer(std::string& out, std::string_view name, const std::string& base)
        : out_(out), name_(name), base_(base) {}

    void add(double value, label_list labels = {}) { add_to("", value, labels); }

    // A sample of a series of the family with a suffix of its own (a histogram's _bucket).
    void add_to(std::string_view suffix, double value, label_list labels = {}) {
        out_ += name_;
        out_ += suffix;
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
        append_number(out_, value);
        out_ += '\n';
    }

    // The cumulative buckets, the sum and the count of a histogram.
    void add_histogram(const duration_histogram& h) {
        static const auto bounds = [] {
            std::array<std::string, duration_bounds.size() + 1> texts;
            for (std::size_t i = 0; i < duration_bounds.size(); ++i)
                append_number(texts[i], duration_bounds[i]);
            texts.back() = "+Inf";
            return texts;
        }();
        std::uint64_t below = 0;
        for (std::size_t i = 0; i < h.buckets.size(); ++i) {
            below += h.buckets[i];
            add_to("_bucket", static_cast<double>(below), {{"le", bounds[i]}});
        }
        add_to("_sum", h.sum);
        add_to("_count", static_cast<double>(h.count));
    }

  private:
    std::string& out_;
    std::string_view name_;
    const std::string& base_;
};

enum class kind { gauge, counter, histogram };

std::string_view type_name(kind type) {
    switch (type) {
        case kind::counter:
            return "counter";
        case kind::histogram:
            return "histogram";
        case kind::gauge:
            break;
    }
    return "gauge";
}

struct family {
    std::string name;
    std::string_view help;
    kind type;
    metrics_detail level;  // the least detail that carries it
    // Whether the source has samples of the family.
    std::function<bool(const source&)> applies;
    std::function<void(const source&, sample_writer&)> samples;
};

bool any(const source&) {
    return true;
}
bool polled(const source& s) {
    return s.view != nullptr;
}
bool probed(const source& s) {
    return s.probe_seconds.has_value();
}
bool has_snapshot(const source& s) {
    return s.snapshot != nullptr;
}

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

// A per-colour line (targets, timing, averages): one sample per colour and item.
template <class Line>
auto per_colour(Line line) {
    return [line](const source& s, sample_writer& w) {
        for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
            for (const auto& item : line(s.snapshot->colour(colour))) {
                w.add(item.value, {{"colour", colour_text(colour)}, {"item", item.key}});
            }
        }
    };
}

// The three items of the machine status, a metric each.
constexpr std::array<std::pair<std::string_view, std::string_view>, 3> status_metrics{{
    {"ifc_machine_colour", "Weft colour selected on the machine"},
    {"ifc_machine_mode", "Machine mode"},
    {"ifc_machine_totw_sw", "TO/TW switch of the machine"},
}};
static_assert(status_metrics.size() == cmd::status_keys.size());

void add_status_families(std::vector<family>& all) {
    for (std::size_t i = 0; i < status_metrics.size(); ++i) {
        const std::string_view key = cmd::status_keys[i];
        all.push_back({std::string(status_metrics[i].first), status_metrics[i].second, kind::gauge,
                       metrics_detail::basic, has_snapshot,
                       [key](const source& s, sample_writer& w) {
                           if (const auto value = ifc_client::value_of(s.snapshot->status, key))
                               w.add(*value);
                       }});
    }
}

// The five summary values of the histograms, a metric each, named after their fields.
void add_arrival_statistic_families(std::vector<family>& all) {
    for (std::size_t i = 0; i < ifc_client::summary_names.size(); ++i) {
        all.push_back(
            {"ifc_arrival_" + std::string(ifc_client::summary_names[i]),
             "A summary value of the histogram (the measurement's field of this name)", kind::gauge,
             metrics_detail::basic, has_snapshot, [i](const source& s, sample_writer& w) {
                 for (const auto& [side, name] : sides)
                     w.add(s.snapshot->histogram_of(side).summary[i].value, {{"side", name}});
             }});
    }
}

// Every family, in the order of the exposition.
std::vector<family> make_families() {
    using enum metrics_detail;
    std::vector<family> all{
        {"ifc_up", "1 when the last poll of the controller succeeded", kind::gauge, basic, any,
         [](const source& s, sample_writer& w) { w.add(s.up ? 1 : 0); }},
        {"ifc_probe_duration_seconds", "Duration of the probe's poll, connect to disconnect",
         kind::gauge, basic, probed,
         [](const source& s, sample_writer& w) { w.add(*s.probe_seconds); }},
        {"ifc_poll_duration_seconds", "Duration of the polls, connect to disconnect",
         kind::histogram, basic, polled,
         [](const source& s, sample_writer& w) { w.add_histogram(s.view->poll_durations); }},
        {"ifc_slot_hold_seconds",
         "Times a poll or a write session held the controller's single client slot",
         kind::histogram, basic, polled,
         [](const source& s, sample_writer& w) { w.add_histogram(s.view->slot_holds); }},
        {"ifc_polls_total", "Polls of the controller", kind::counter, basic, polled,
         [](const source& s, sample_writer& w) { w.add(static_cast<double>(s.view->polls)); }},
        {"ifc_poll_failures_total", "Polls that failed", kind::counter, basic, polled,
         [](const source& s, sample_writer& w) {
             w.add(static_cast<double>(s.view->poll_failures));
         }},
        {"ifc_controller_connections_total", "Connections opened to the controller", kind::counter,
         basic, polled,
         [](const source& s, sample_writer& w) {
             w.add(static_cast<double>(s.view->connections));
         }},
        {"ifc_snapshot_age_seconds", "Age of the last good snapshot", kind::gauge, basic,
         [](const source& s) { return s.age_seconds.has_value(); },
         [](const source& s, sample_writer& w) { w.add(*s.age_seconds); }},
        {"ifc_writes_total", "Writes asked for through the API, by outcome", kind::counter, basic,
         polled,
         [](const source& s, sample_writer& w) {
             for (write_result r : all_write_results) {
                 w.add(static_cast<double>(s.view->writes[static_cast<std::size_t>(r)]),
                       {{"outcome", result_name(r)}});
             }
         }},
        {"ifc_drift_values",
         "Values that differ from the controller's assigned settings-library version", kind::gauge,
         basic,
         [](const source& s) { return s.view && s.view->drift && s.view->drift->differences; },
         [](const source& s, sample_writer& w) { w.add(*s.view->drift->differences); }},
    };
    add_status_families(all);
    all.insert(
        all.end(),
        {
            {"ifc_target_degrees", "Arrival-timing target per weft colour", kind::gauge, basic,
             has_snapshot, per_colour([](const colour_values& c) -> auto& { return c.targets; })},
            {"ifc_timing_degrees", "Measured arrival timing per weft colour", kind::gauge, basic,
             has_snapshot, per_colour([](const colour_values& c) -> auto& { return c.timing; })},
            {"ifc_timing_average_degrees", "Averages of the arrival timing per weft colour",
             kind::gauge, basic, has_snapshot,
             per_colour([](const colour_values& c) -> auto& { return c.averages; })},
            {"ifc_arrival_shown_colour", "Weft colour the histogram shows", kind::gauge, basic,
             has_snapshot,
             [](const source& s, sample_writer& w) {
                 for (const auto& [side, name] : sides) {
                     w.add(s.snapshot->histogram_selection.of(side).colour, {{"side", name}});
                 }
             }},
            {"ifc_arrival_shown_item_info", "Timing item the histogram shows (always 1)",
             kind::gauge, basic, has_snapshot,
             [](const source& s, sample_writer& w) {
                 for (const auto& [side, name] : sides) {
                     w.add(1, {{"side", name},
                               {"item", s.snapshot->histogram_selection.of(side).item}});
                 }
             }},
        });
    add_arrival_statistic_families(all);
    all.insert(all.end(),
               {
                   {"ifc_device_selected", "1 when the device or sub nozzle is selected",
                    kind::gauge, settings, has_snapshot,
                    [](const source& s, sample_writer& w) {
                        for (const auto& item : s.snapshot->selection)
                            w.add(item.value, {{"device", item.key}});
                    }},
                   {"ifc_valve_angle_degrees", "Valve on or off angle per weft colour", kind::gauge,
                    settings, has_snapshot,
                    [](const source& s, sample_writer& w) {
                        for (int colour = protocol::first_colour; colour <= protocol::last_colour;
                             ++colour) {
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
                   {"ifc_arrival_bin_samples", "Samples in one bin of the histogram", kind::gauge,
                    full, has_snapshot,
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
               });
    return all;
}

const std::vector<family>& families() {
    static const std::vector<family> all = make_families();
    return all;
}

// Family by family, each announced once before the samples of every source, written straight
// into one string reserved at the size of the last exposition of its kind (no copies, no
// doubling of the text).
std::string render(const std::vector<source>& sources, metrics_detail detail,
                   std::atomic<std::size_t>& last_size, bool with_gateway) {
    std::string out;
    out.reserve(last_size.load() + last_size.load() / 8);
    for (const family& f : families()) {
        if (f.level > detail) continue;
        bool announced = false;
        for (const source& s : sources) {
            if (!f.applies(s)) continue;
            if (!announced) {
                out += "# HELP ";
                out += f.name;
                out += ' ';
                out += f.help;
                out += "\n# TYPE ";
                out += f.name;
                out += ' ';
                out += type_name(f.type);
                out += '\n';
                announced = true;
            }
            sample_writer writer(out, f.name, s.labels);
            f.samples(s, writer);
        }
    }
    if (with_gateway) append_gateway_metrics(out);
    last_size = out.size();
    return out;
}

std::string controller_label(std::string_view name) {
    return "controller=\"" + escaped(name) + "\"";
}

std::atomic<std::size_t>& last_size_of(metrics_detail detail, bool probe) {
    static std::array<std::atomic<std::size_t>, 2 * metrics_detail_names.size()> sizes{};
    return sizes[static_cast<std::size_t>(detail) * 2 + (probe ? 1 : 0)];
}

}  // namespace

std::string fleet_metrics(const std::vector<controller_view>& views, steady_clock::time_point now,
                          metrics_detail detail) {
    std::vector<source> sources;
    sources.reserve(views.size());
    for (const controller_view& v : views) {
        sources.push_back(source{controller_label(v.address.name), &v, std::nullopt, v.reachable,
                                 v.snapshot.get(), v.age_seconds(now)});
    }
    return render(sources, detail, last_size_of(detail, false), true);
}

std::string probe_metrics(const poll_outcome& outcome, std::string_view name,
                          metrics_detail detail) {
    const source probed{controller_label(name),
                        nullptr,
                        outcome.poll_seconds,
                        outcome.snapshot.ok(),
                        outcome.snapshot ? &outcome.snapshot.value() : nullptr,
                        std::nullopt};
    return render({probed}, detail, last_size_of(detail, true), false);
}

}  // namespace gateway
