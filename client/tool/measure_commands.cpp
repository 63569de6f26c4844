// timing and histogram: the measurements, and the histogram's selection and requests.
#include <algorithm>

#include "client/commands.h"
#include "client/histogram.h"
#include "client/settings_access.h"
#include "client/token_line.h"
#include "client/tool/handlers.h"
#include "client/tool/write_reply.h"
#include "protocol/protocol.h"
#include "tools/suggest.h"
#include "tools/text_table.h"

namespace ifc_tool {

namespace {

namespace cmd = ifc_client::commands;
using ifc_client::histogram_side;

constexpr int bar_width = 50;
constexpr std::string_view simulated = " (simulated by the server)";
// The first words of the histogram command.
constexpr std::array<std::string_view, 5> histogram_words{"left", "right", "select", "clear",
                                                          "set"};

reply usage(std::string message) {
    return failed(exit_status::usage, "usage: " + std::move(message));
}

ifc_client::result<int> colour_word(const std::string& word) {
    const auto n = ifc_client::parse_int32(word);
    if (!n) {
        return ifc_client::error{ifc_client::errc::bad_request,
                                 "'" + word + "' is not a weft colour " + cmd::colour_range_text()};
    }
    if (!cmd::is_colour(*n)) return cmd::not_a_colour(*n);
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

// A choice that no sound settings file holds: a colour outside 1..6, an item number that
// names no item.
void add_suspects(std::vector<std::string>& suspects, histogram_side side,
                  const ifc_client::side_choice& c) {
    const std::string name(ifc_client::side_name(side));
    if (!cmd::is_colour(c.colour)) {
        suspects.push_back(name + " colour=" + std::to_string(c.colour) + " (" +
                           cmd::colour_range_text() + ")");
    }
    if (c.item == ifc_client::unnamed_item) {
        suspects.push_back(name + " item=" + c.item + " (an item number that names no item)");
    }
}

void warn_about(reply& out, const ifc_client::histogram_selection& s,
                std::optional<histogram_side> written = std::nullopt) {
    std::vector<std::string> suspects;
    for (const histogram_side side : {histogram_side::left, histogram_side::right}) {
        if (side != written) add_suspects(suspects, side, s.of(side));
    }
    const std::string warning = damage_warning(protocol::interface_settings_file, suspects);
    if (!warning.empty()) out.warnings.push_back(warning);
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
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    std::vector<std::string> summary_text;
    for (std::size_t i = 0; i < h->summary.size(); ++i) {
        const auto& s = h->summary[i];
        const auto value = s.whole ? nlohmann::ordered_json(static_cast<std::int64_t>(s.value))
                                   : nlohmann::ordered_json(s.value);
        summary.push_back(value);
        fields[std::string(ifc_client::summary_names[i])] = value;
        summary_text.push_back(std::string(ifc_client::summary_names[i]) + " " + s.text);
    }
    out.json = {{"command", "histogram"}, {"side", ifc_client::side_name(side)},
                {"colour", shown.colour}, {"item", shown.item},
                {"summary", summary},     {"summary_fields", fields},
                {"bins", h->bins},        {"simulated", true}};

    const std::int64_t peak = *std::max_element(h->bins.begin(), h->bins.end());
    std::vector<text_row> rows{text_row{"bin", "count", ""}};
    for (std::size_t bin = 0; bin < h->bins.size(); ++bin) {
        rows.push_back(text_row{std::to_string(bin), std::to_string(h->bins[bin]),
                                bar(h->bins[bin], peak, bar_width)});
    }
    std::string summary_line;
    for (const std::string& s : summary_text)
        summary_line += (summary_line.empty() ? "" : ", ") + s;
    out.table =
        std::string(ifc_client::side_name(side)) + " histogram: colour " +
        std::to_string(shown.colour) + ", item " + shown.item + std::string(simulated) +
        "\nsummary: " + summary_line +
        "\n  (fields of the server's measurement record; their meaning is not documented)\n" +
        render_table(rows);
    warn_about(out, choice.value());
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
    warn_about(out, s.value());
    return out;
}

// After a write of unknown outcome: one read on a new connection tells what the server holds.
reply selection_read_again(session& s, const ifc_client::error& failure, histogram_side side,
                           int colour, const std::string& item) {
    reply out;
    out.status = exit_status::outcome_unknown;
    out.json = {{"command", "histogram select"}, {"applied", nullptr}};
    s.close();
    auto conn = s.connection();
    auto now = conn ? ifc_client::read_histogram_selection(*conn.value())
                    : ifc_client::result<ifc_client::histogram_selection>(conn.failure());
    if (!now) {
        out.error = "outcome unknown: " + failure.detail +
                    "; reading the selection again on a new connection failed too (" +
                    std::string(ifc_client::errc_name(now.code())) + ": " + now.failure().detail +
                    ")";
        return out;
    }
    out.answers.push_back(now->answer);
    out.json.update(json_of(now.value()));
    const auto& shown = now->of(side);
    const std::string side_text(ifc_client::side_name(side));
    out.error = read_again_text(
        failure, shown.colour == colour && shown.item == item
                     ? "holds " + side_text + " colour " + std::to_string(colour) + " item " + item
                     : "shows " + side_text + " colour " + std::to_string(shown.colour) + " item " +
                           shown.item + " (asked for colour " + std::to_string(colour) + " item " +
                           item + ")");
    return out;
}

reply write_selection(session& s, ifc_client::connection& conn, histogram_side side, int colour,
                      const std::string& item) {
    auto report = ifc_client::write_histogram_selection(conn, side, colour, item);
    if (!report && report.failure().outcome_unknown) {
        return selection_read_again(s, report.failure(), side, colour, item);
    }
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
    warn_about(out, report->after, side);
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
                {"measured", ifc_tool::json_of(measured->line)},
                {"averages", ifc_tool::json_of(averages->line)},
                {"simulated", true}};
    std::vector<text_row> rows{text_row{"", "measured", "average"}};
    for (const auto& a : averages->line) {
        const auto m = ifc_client::value_of(measured->line, a.key);
        rows.push_back(text_row{a.key, m ? std::to_string(*m) : "-", std::to_string(a.value)});
    }
    out.table = "arrival timing of colour " + std::to_string(colour) + std::string(simulated) +
                "\n" + render_table(rows);
    return out;
}

std::string histogram_help(const request& r) {
    return "(see '" + r.command_text("help histogram") + "')";
}

reply run_select_words(session& s, const request& r) {
    const auto& w = r.words;
    if (w.size() == 1) return connected(s, read_selection);
    if (w.size() != 4 || !side_word(w[1])) {
        return usage("histogram select takes left|right, a colour " + cmd::colour_range_text() +
                     " and an item, e.g. '" + r.command_text("histogram select left 3 tbw") + "'");
    }
    const histogram_side side = *side_word(w[1]);
    const auto colour = colour_word(w[2]);
    if (!colour) return failed(colour.failure());
    // Checked here as well, so that a bad item is refused before connecting.
    if (auto argument = ifc_client::histogram_selection_argument(side, colour.value(), w[3]);
        !argument) {
        return failed(argument.failure());
    }
    return connected(s, [&](ifc_client::connection& conn) {
        return write_selection(s, conn, side, colour.value(), w[3]);
    });
}

reply run_clear(session& s, const request& r) {
    const auto& w = r.words;
    if (w.size() != 3) return usage("histogram clear takes a colour and an item");
    const auto colour = colour_word(w[1]);
    if (!colour) return failed(colour.failure());
    return histogram_request(s, cmd::histogram_clear,
                             ifc_client::histogram_clear_argument(colour.value(), w[2]));
}

reply run_settings(session& s, const request& r) {
    const auto& w = r.words;
    if (w.size() != 8) {
        return usage("histogram set takes LCOLOUR LITEM LT RCOLOUR RITEM RT SAMP");
    }
    const auto lc = colour_word(w[1]), rc = colour_word(w[4]);
    if (!lc) return failed(lc.failure());
    if (!rc) return failed(rc.failure());
    const auto lt = ifc_client::parse_int32(w[3]), rt = ifc_client::parse_int32(w[6]),
               samp = ifc_client::parse_int32(w[7]);
    if (!lt || !rt || !samp) return usage("histogram set: LT, RT and SAMP are whole numbers");
    const ifc_client::histogram_settings settings{lc.value(), w[2], *lt,  rc.value(),
                                                  w[5],       *rt,  *samp};
    return histogram_request(s, cmd::histogram_settings,
                             ifc_client::histogram_settings_argument(settings));
}

}  // namespace

reply run_timing(session& s, const request& r) {
    return connected(s, [&](ifc_client::connection& conn) { return timing(conn, r.colour); });
}

reply run_histogram(session& s, const request& r) {
    const auto& w = r.words;
    if (w.empty()) {
        std::string words;
        for (std::string_view word : histogram_words)
            words += (words.empty() ? "" : ", ") + std::string(word);
        return usage("histogram needs one of: " + words + " " + histogram_help(r));
    }
    if (const auto side = side_word(w[0])) {
        if (w.size() != 1) return usage("histogram " + w[0] + " takes no more words");
        return connected(s,
                         [&](ifc_client::connection& conn) { return show_histogram(conn, *side); });
    }
    if (w[0] == "select") return run_select_words(s, r);
    if (w[0] == "clear") return run_clear(s, r);
    if (w[0] == "set") return run_settings(s, r);
    const std::string guess = ifc_tool::did_you_mean(w[0], histogram_words);
    return usage("unknown histogram word '" + w[0] + "'" +
                 (guess.empty() ? " " + histogram_help(r) : guess));
}

}  // namespace ifc_tool
