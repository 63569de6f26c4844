// timing and histogram: the measurements, and the histogram's selection and requests.
#include <algorithm>

#include "client/commands.h"
#include "client/histogram.h"
#include "client/settings_access.h"
#include "client/token_line.h"
#include "client/tool/run_command.h"
#include "client/tool/text_table.h"

namespace {

namespace cmd = ifc_client::commands;
using ifc_client::histogram_side;

constexpr int bar_width = 50;

reply usage(std::string message) {
    return failed(exit_status::usage, std::move(message));
}

std::optional<int> colour_word(const std::string& word) {
    const auto n = ifc_client::parse_int32(word);
    if (!n || !cmd::is_colour(*n)) return std::nullopt;
    return *n;
}

std::optional<histogram_side> side_word(const std::string& word) {
    if (word == "left") return histogram_side::left;
    if (word == "right") return histogram_side::right;
    return std::nullopt;
}

nlohmann::ordered_json json_of(const ifc_client::side_choice& c) {
    return {{"colour", c.colour}, {"item", c.item}};
}

nlohmann::ordered_json json_of(const ifc_client::histogram_selection& s) {
    return {{"left", json_of(s.left)}, {"right", json_of(s.right)}};
}

std::string selection_table(const ifc_client::histogram_selection& s) {
    const std::vector<text_row> rows{
        text_row{"side", "colour", "item"},
        text_row{"left", std::to_string(s.left.colour), s.left.item},
        text_row{"right", std::to_string(s.right.colour), s.right.item}};
    return "histogram selection\n" + render_table(rows);
}

reply show_histogram(ifc_client::connection& conn, histogram_side side) {
    auto choice = ifc_client::read_histogram_selection(conn);
    if (!choice) return failed(choice.failure());
    auto h = ifc_client::read_histogram(conn, side);
    if (!h) return failed(h.failure());
    const auto& shown = choice->of(side);

    reply out;
    out.answers.push_back(h->answer);
    nlohmann::ordered_json summary = nlohmann::ordered_json::array();
    std::string summary_text;
    for (const auto& s : h->summary) {
        summary.push_back(s.whole ? nlohmann::ordered_json(static_cast<std::int64_t>(s.value))
                                  : nlohmann::ordered_json(s.value));
        summary_text += " " + s.text;
    }
    out.json = {{"command", "histogram"}, {"side", ifc_client::side_name(side)},
                {"colour", shown.colour}, {"item", shown.item},
                {"summary", summary},     {"bins", h->bins}};

    const std::int64_t peak = *std::max_element(h->bins.begin(), h->bins.end());
    std::vector<text_row> rows{text_row{"bin", "count", ""}};
    for (std::size_t bin = 0; bin < h->bins.size(); ++bin) {
        rows.push_back(text_row{std::to_string(bin), std::to_string(h->bins[bin]),
                                bar(h->bins[bin], peak, bar_width)});
    }
    out.table = std::string(ifc_client::side_name(side)) + " histogram: colour " +
                std::to_string(shown.colour) + ", item " + shown.item +
                "\nsummary:" + summary_text + "\n" + render_table(rows);
    return out;
}

reply read_selection(ifc_client::connection& conn) {
    auto s = ifc_client::read_histogram_selection(conn);
    if (!s) return failed(s.failure());
    reply out;
    out.answers.push_back(s->answer);
    out.json = {{"command", "histogram select"}};
    out.json.update(json_of(s.value()));
    out.table = selection_table(s.value());
    return out;
}

reply write_selection(ifc_client::connection& conn, histogram_side side, int colour,
                      const std::string& item) {
    auto report = ifc_client::write_histogram_selection(conn, side, colour, item);
    if (!report) return failed(report.failure());
    reply out;
    out.answers.push_back(report->after.answer);
    out.json = {{"command", "histogram select"}};
    out.json.update(json_of(report->after));
    out.json["applied"] = report->applied;
    const auto& before = report->before.of(side);
    const auto& now = report->after.of(side);
    out.table = selection_table(report->after) + "changed " +
                std::string(ifc_client::side_name(side)) + ": colour " +
                std::to_string(before.colour) + " " + before.item + " -> " +
                std::to_string(now.colour) + " " + now.item + "\n";
    if (!report->applied) {
        out.status = exit_status::not_applied;
        out.error = "not applied: the read-back does not show " +
                    std::string(ifc_client::side_name(side)) + " colour " + std::to_string(colour) +
                    " item " + item;
    }
    return out;
}

reply sent_reply(std::string_view name, const std::string& argument) {
    reply out;
    out.table = "sent " + std::string(name) + " \"" + argument + "\" (the server only logs it)\n";
    out.json = {
        {"command", "histogram " + std::string(name == cmd::histogram_clear ? "clear" : "set")},
        {"argument", argument},
        {"sent", true}};
    return out;
}

// Clear and settings requests change nothing the server shows; it only logs them.
reply histogram_request(session& s, std::string_view name,
                        const ifc_client::result<std::string>& argument) {
    if (!argument) return failed(argument.failure());
    return connected(s, [&](ifc_client::connection& conn) {
        if (auto sent = conn.put(name, argument.value()); !sent) return failed(sent.failure());
        return sent_reply(name, argument.value());
    });
}

reply timing(ifc_client::connection& conn, int colour) {
    auto measured = ifc_client::read_timing(conn, colour);
    if (!measured) return failed(measured.failure());
    auto averages = ifc_client::read_averages(conn, colour);
    if (!averages) return failed(averages.failure());

    reply out;
    out.answers = {measured->text, averages->text};
    out.json = {{"command", "timing"},
                {"colour", colour},
                {"measured", ::json_of(measured->line)},
                {"averages", ::json_of(averages->line)}};
    std::vector<text_row> rows{text_row{"", "measured", "average"}};
    for (const auto& a : averages->line) {
        const auto m = ifc_client::value_of(measured->line, a.key);
        rows.push_back(text_row{a.key, m ? std::to_string(*m) : "-", std::to_string(a.value)});
    }
    out.table = "arrival timing of colour " + std::to_string(colour) + "\n" + render_table(rows);
    return out;
}

std::optional<int> number_word(const std::string& word) {
    return ifc_client::parse_int32(word);
}

}  // namespace

reply run_timing(session& s, const request& r) {
    return connected(s, [&](ifc_client::connection& conn) { return timing(conn, r.colour); });
}

reply run_histogram(session& s, const request& r) {
    const auto& w = r.words;
    if (w.size() == 1) {
        if (const auto side = side_word(w[0])) {
            return connected(
                s, [&](ifc_client::connection& conn) { return show_histogram(conn, *side); });
        }
        if (w[0] == "select") return connected(s, read_selection);
    }
    if (w.size() == 4 && w[0] == "select") {
        const auto side = side_word(w[1]);
        const auto colour = colour_word(w[2]);
        if (!side || !colour) {
            return usage(
                "histogram select takes left|right, a colour 1..6 and an item, "
                "e.g. \"histogram select left 3 tbw\"");
        }
        // Checked here as well, so that a bad item is refused before connecting.
        if (auto argument = ifc_client::histogram_selection_argument(*side, *colour, w[3]);
            !argument) {
            return failed(argument.failure());
        }
        return connected(s, [&](ifc_client::connection& conn) {
            return write_selection(conn, *side, *colour, w[3]);
        });
    }
    if (w.size() == 3 && w[0] == "clear") {
        const auto colour = colour_word(w[1]);
        if (!colour) return usage("histogram clear takes a colour 1..6 and an item");
        return histogram_request(s, cmd::histogram_clear,
                                 ifc_client::histogram_clear_argument(*colour, w[2]));
    }
    if (w.size() == 8 && w[0] == "set") {
        const auto lc = colour_word(w[1]), lt = number_word(w[3]);
        const auto rc = colour_word(w[4]), rt = number_word(w[6]), samp = number_word(w[7]);
        if (!lc || !lt || !rc || !rt || !samp) {
            return usage(
                "histogram set takes LCOLOUR LITEM LT RCOLOUR RITEM RT SAMP "
                "(colours 1..6, whole numbers)");
        }
        const ifc_client::histogram_settings settings{*lc, w[2], *lt, *rc, w[5], *rt, *samp};
        return histogram_request(s, cmd::histogram_settings,
                                 ifc_client::histogram_settings_argument(settings));
    }
    return usage(
        "histogram takes left, right, select [left|right COLOUR ITEM], "
        "clear COLOUR ITEM or set LCOLOUR LITEM LT RCOLOUR RITEM RT SAMP");
}
