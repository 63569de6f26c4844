// Writes the seed corpora and dictionaries of the fuzz targets from the system's own texts:
// the command names of the dispatch tables, the answers that the read commands give on a
// fresh installation (sent back as write arguments, as a terminal does), the default
// settings images, and the settings document of those answers. Run it after a change of commands or
// defaults, and commit what it writes:
//
//   build/fuzz/fuzz/fuzz_seeds fuzz
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "client/document_json.h"
#include "client/settings_document.h"
#include "fuzz/gateway_answers_input.h"
#include "fuzz/proxy_tracker_input.h"
#include "fuzz/scratch_dir.h"
#include "gateway/snapshot.h"
#include "ifc/ifc_net.h"
#include "protocol/protocol.h"
#include "proxy/faults/registry.h"
#include "proxy/rules.h"
#include "server/ether_parse.h"
#include "valve/vfp_ifc.h"
#include "valve/vfp_on_off.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 29> get_names{
    "IFC_get_select_item", "IFC_get_stat",         "IFC_get_Tot_Twt_1",    "IFC_get_Tot_Twt_2",
    "IFC_get_Tot_Twt_3",   "IFC_get_Tot_Twt_4",    "IFC_get_Tot_Twt_5",    "IFC_get_Tot_Twt_6",
    "IFC_get_To_Tw_1",     "IFC_get_To_Tw_2",      "IFC_get_To_Tw_3",      "IFC_get_To_Tw_4",
    "IFC_get_To_Tw_5",     "IFC_get_To_Tw_6",      "IFC_get_histo_ave_1",  "IFC_get_histo_ave_2",
    "IFC_get_histo_ave_3", "IFC_get_histo_ave_4",  "IFC_get_histo_ave_5",  "IFC_get_histo_ave_6",
    "IFC_get_hst_select",  "IFC_get_hist_cntdatL", "IFC_get_hist_cntdatR", "IFC_get_on_off_1",
    "IFC_get_on_off_2",    "IFC_get_on_off_3",     "IFC_get_on_off_4",     "IFC_get_on_off_5",
    "IFC_get_on_off_6",
};

// Every write command with an argument a terminal sends: the read twin's answer where there
// is one, else the example of the command's documentation.
struct put_seed {
    std::string_view name;
    std::string_view twin;  // GET whose answer is the argument; empty: use argument
    std::string_view argument;
};
constexpr std::array<put_seed, 18> put_seeds{{
    {"MLETOFF_set_btnstat", "", "1"},
    {"IFC_set_select_item", "", "sub3:1"},
    {"IFC_set_stat", "IFC_get_stat", ""},
    {"IFC_set_to_tw_1", "IFC_get_Tot_Twt_1", ""},
    {"IFC_set_to_tw_2", "IFC_get_Tot_Twt_2", ""},
    {"IFC_set_to_tw_3", "IFC_get_Tot_Twt_3", ""},
    {"IFC_set_to_tw_4", "IFC_get_Tot_Twt_4", ""},
    {"IFC_set_to_tw_5", "IFC_get_Tot_Twt_5", ""},
    {"IFC_set_to_tw_6", "IFC_get_Tot_Twt_6", ""},
    {"IFC_set_on_off_1", "IFC_get_on_off_1", ""},
    {"IFC_set_on_off_2", "IFC_get_on_off_2", ""},
    {"IFC_set_on_off_3", "IFC_get_on_off_3", ""},
    {"IFC_set_on_off_4", "IFC_get_on_off_4", ""},
    {"IFC_set_on_off_5", "IFC_get_on_off_5", ""},
    {"IFC_set_on_off_6", "IFC_get_on_off_6", ""},
    {"IFC_hst_select_item", "", "LEFT 3 tbw"},
    {"IFC_hst_clear", "", "1 tw"},
    {"IFC_hst_set", "", "1 tw 5 2 tbw 5 100"},
}};

char transfer[protocol::max_payload + 1];

std::string header(std::string_view token, std::string_view rest) {
    std::string h(token);
    h += rest;
    h.resize(protocol::header_len, ' ');
    return h;
}

std::string get_header(std::string_view name) {
    return header(protocol::get_token, name);
}

std::string put_exchange(std::string_view payload) {
    return header(protocol::put_token, std::to_string(payload.size())) + std::string(payload);
}

std::string answer_of(std::string_view name) {
    std::string field(name);
    field.resize(protocol::name_field_len, ' ');
    const int len = ether_get_data(field.c_str(), transfer);
    if (len < 0) {
        std::fprintf(stderr, "no read command %.*s\n", static_cast<int>(name.size()), name.data());
        std::exit(1);
    }
    return std::string(transfer, static_cast<std::size_t>(len));
}

std::string payload_of(const put_seed& seed) {
    std::string payload(seed.name);
    payload += '\0';
    payload += seed.twin.empty() ? std::string(seed.argument) : answer_of(seed.twin);
    return payload;
}

// The acknowledgements a client sends for an answer of len bytes.
std::string acks_for(std::size_t len) {
    std::string acks;
    for (std::size_t sent = 0; sent < len; sent += protocol::chunk_size) {
        acks += protocol::next_token;
    }
    return acks;
}

void write_seed(const fs::path& dir, const std::string& name, std::string_view bytes) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A libFuzzer dictionary entry: the bytes in double quotes, unprintable ones as \xNN.
std::string dict_entry(std::string_view bytes) {
    std::string line = "\"";
    for (const unsigned char c : bytes) {
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            line += hex;
        } else {
            line += static_cast<char>(c);
        }
    }
    return line + "\"\n";
}

void write_dict(const fs::path& file, const std::vector<std::string>& entries) {
    std::ofstream out(file, std::ios::trunc);
    out << "# Written by fuzz_seeds (fuzz/make_seeds.cpp).\n";
    for (const std::string& e : entries)
        out << dict_entry(e);
}

template <class Image>
std::string image_bytes(const Image& image) {
    return std::string(reinterpret_cast<const char*>(image.data()), sizeof image);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <fuzz directory>\n", argv[0]);
        return 2;
    }
    const fs::path root = fs::absolute(argv[1]);
    const fs::path corpus = root / "corpus";
    fuzz_support::enter_scratch_dir();

    // Request streams as a client sends them, each ending with DISCONNECT.
    const fs::path server = corpus / "server";
    const std::string bye = header(protocol::disconnect_token, "");
    std::string session;
    for (const std::string_view name : get_names) {
        const std::string answer = answer_of(name);
        const std::string exchange = get_header(name) + acks_for(answer.size());
        write_seed(server, "get_" + std::string(name), exchange + bye);
        session += exchange;
    }
    for (const put_seed& seed : put_seeds) {
        // The whole payload at once, ahead of the server's "NEXT": the server reads it chunk
        // by chunk all the same.
        const std::string exchange = put_exchange(payload_of(seed));
        write_seed(server, "put_" + std::string(seed.name), exchange + bye);
        session += exchange + header(protocol::ping_token, "");
    }
    write_seed(server, "session", session + bye);
    write_seed(server, "ping", header(protocol::ping_token, "0123456789") + bye);
    write_seed(server, "lower_case_get", "get" + get_header("IFC_get_stat").substr(3));
    write_seed(server, "unknown_get", get_header("IFC_get_nothing"));
    write_seed(server, "get_bad_ack", get_header("IFC_get_stat") + "next");
    write_seed(server, "get_short_ack", get_header("IFC_get_stat") + "NE");
    write_seed(server, "put_too_big", header(protocol::put_token, "256001") + bye);
    write_seed(server, "put_negative", header(protocol::put_token, "-1") + bye);
    write_seed(server, "put_zero", header(protocol::put_token, "0") + bye);
    write_seed(server, "put_no_digits", header(protocol::put_token, "  +x") + bye);
    write_seed(
        server, "put_two_chunks",
        put_exchange("MLETOFF_set_btnstat" + std::string(1, '\0') + std::string(1100, '7')) + bye);
    write_seed(server, "put_cut_short", header(protocol::put_token, "2000") + "IFC_set_stat");
    write_seed(server, "short_header", "PING12345");

    // Payloads alone, for the dispatcher.
    const fs::path put_data = corpus / "put_data";
    for (const put_seed& seed : put_seeds) {
        write_seed(put_data, std::string(seed.name), payload_of(seed));
    }
    write_seed(put_data, "select_all", std::string("IFC_set_select_item\0all:1", 25));
    write_seed(put_data, "no_nul", "IFC_set_stat color:1");
    write_seed(put_data, "empty_name", std::string("\0pin:1", 6));
    write_seed(put_data, "trailing_space",
               std::string("IFC_set_stat \0color:1 mode:0 totw_sw:0", 38));
    write_seed(put_data, "inner_nul", std::string("IFC_set_on_off_1\0main_on:1\0main_off:2", 37));
    write_seed(put_data, "on_off_end_walk",
               std::string("IFC_set_on_off_2\0main_on:100 :7 main_off:200", 44));
    write_seed(put_data, "hst_clear_empty", std::string("IFC_hst_clear\0", 14));

    // Argument lines for the parser.
    const fs::path lines = corpus / "line2matrix2";
    write_seed(lines, "on_off_answer", answer_of("IFC_get_on_off_1"));
    write_seed(lines, "two_tokens", "pin_on:70 main_on:90");
    write_seed(lines, "spaces", "  a:1   b:2  ");
    write_seed(lines, "two_colons", "a:1:2 a: :5 b:3");
    write_seed(lines, "line_feed", "a:1\nb:2\tc:3");
    write_seed(lines, "too_long",
               std::string(30, 'n') + ":1 ok:2 v:" + std::string(50, '9') + " no_colon x:y");
    std::string many;
    for (int i = 0; i < 520; ++i)
        many += "k" + std::to_string(i) + ":" + std::to_string(i) + " ";
    write_seed(lines, "many_tokens", many);

    // Settings images: first byte 0 picks the interface table, 1 the valve table (bits 1-3
    // a colour); the rest is the file.
    const fs::path tables = corpus / "table";
    const std::string ifc = image_bytes(ifc_net::i4_init);
    const std::string vfp = image_bytes(vfp_ifc::i4_init);
    write_seed(tables, "ifc_defaults", std::string(1, '\0') + ifc);
    write_seed(tables, "valve_defaults", std::string(1, '\x01') + vfp);
    write_seed(tables, "ifc_short", std::string(1, '\x02') + ifc.substr(0, 799));
    write_seed(tables, "valve_longer", std::string(1, '\x05') + vfp + "trailing");
    std::string damaged = vfp;
    damaged.replace(vfp.size() - 80, 80, vfp.substr(0, 80));  // no terminator
    damaged.replace(4, 28, std::string(28, 'N'));             // a name without a NUL
    damaged[80] = 6;                                          // a record of unusable type
    write_seed(tables, "valve_damaged", std::string(1, '\x07') + damaged);
    std::string odd = ifc;
    odd[3 * 80 + 32 + 4] = 99;  // an item index that names no histogram key
    write_seed(tables, "ifc_odd_values", std::string(1, '\x0a') + odd);

    // Relayed connections for the proxy's tracker: steps from the terminal and the controller.
    const fs::path tracker = corpus / "proxy_tracker";
    {
        using proxy_tracker_input::segment;
        using proxy_tracker_input::step;
        const auto terminal = [](std::string_view bytes) {
            return segment(false, step::bytes, bytes);
        };
        const auto controller = [](std::string_view bytes) {
            return segment(true, step::bytes, bytes);
        };
        const std::string both_end = segment(false, step::end) + segment(true, step::end);
        const auto get_steps = [&](std::string_view name, const std::string& answer) {
            char len[16];
            std::snprintf(len, sizeof len, "LEN%010zu", answer.size());
            std::string steps = terminal(get_header(name)) + controller(len);
            for (std::size_t at = 0; at < answer.size(); at += protocol::chunk_size) {
                steps += terminal(protocol::next_token);
                steps += controller(std::string_view(answer).substr(at, protocol::chunk_size));
            }
            return steps;
        };
        const auto put_steps = [&](std::string_view payload) {
            std::string steps =
                terminal(header(protocol::put_token, std::to_string(payload.size())));
            for (std::size_t at = 0; at < payload.size(); at += protocol::chunk_size) {
                steps += controller(protocol::next_token);
                steps += terminal(payload.substr(at, protocol::chunk_size));
            }
            return steps + controller(protocol::fin_token);
        };
        std::string session;
        for (const std::string_view name :
             {"IFC_get_stat", "IFC_get_on_off_1", "IFC_get_hst_select"}) {
            const std::string steps = get_steps(name, answer_of(name));
            write_seed(tracker, "get_" + std::string(name), steps + both_end);
            session += steps;
        }
        write_seed(tracker, "get_two_chunks",
                   get_steps("IFC_get_long", std::string(1500, 'a')) + both_end);
        for (const put_seed& seed : put_seeds) {
            if (seed.name != "IFC_set_stat" && seed.name != "IFC_set_on_off_1") continue;
            const std::string steps = put_steps(payload_of(seed));
            write_seed(tracker, "put_" + std::string(seed.name), steps + both_end);
            session += steps;
        }
        const std::string long_payload =
            "MLETOFF_set_btnstat" + std::string(1, '\0') + std::string(1100, '7');
        write_seed(tracker, "put_two_chunks", put_steps(long_payload) + both_end);
        write_seed(
            tracker, "put_at_once",
            terminal(put_exchange(payload_of(put_seeds[2]))) + controller("NEXTFIN") + both_end);
        write_seed(tracker, "put_refused",
                   terminal(header(protocol::put_token, "256001")) +
                       controller(protocol::err_token) + both_end);
        write_seed(tracker, "put_zero",
                   terminal(header(protocol::put_token, "0")) + controller(protocol::fin_token));
        write_seed(tracker, "put_answered_by_the_proxy",
                   segment(false, step::answer_err) + put_steps(payload_of(put_seeds[2])));
        const std::string bye = header(protocol::disconnect_token, "");
        write_seed(tracker, "session",
                   session + terminal(header(protocol::ping_token, "")) + terminal(bye) +
                       segment(true, step::end));
        write_seed(tracker, "unknown_get",
                   terminal(get_header("IFC_get_nothing")) + controller("LEN-000000001") +
                       segment(true, step::end));
        write_seed(tracker, "lower_case_next",
                   terminal(get_header("IFC_get_stat")) + controller("LEN0000000025") +
                       terminal("next") + segment(true, step::end));
        write_seed(tracker, "next_and_a_line_end",
                   get_steps("IFC_get_stat", answer_of("IFC_get_stat")) + terminal("\n") +
                       terminal(get_header("IFC_get_stat")));
        write_seed(tracker, "unknown_header",
                   terminal(header("HELLO", "")) + segment(true, step::end));
        write_seed(tracker, "controller_cuts_in",
                   terminal(get_header("IFC_get_stat")) + controller("LEN00000") +
                       segment(true, step::reset));
        write_seed(tracker, "terminal_leaves_mid_payload",
                   terminal(header(protocol::put_token, "2000")) +
                       controller(protocol::next_token) + terminal("IFC_set_stat") +
                       segment(false, step::reset) + segment(true, step::end));
    }

    // Settings documents: a whole machine as a fresh installation answers, and a part of one.
    std::vector<std::string> document_words;
    {
        const fs::path documents = root / "corpus" / "document";
        const auto line = [](std::string_view name) {
            auto parsed = ifc_client::parse_token_line(answer_of(name));
            if (!parsed) std::exit(1);
            return parsed.value();
        };
        ifc_client::settings_document doc;
        doc.name = "loom 7";
        doc.source = {"loom7", "10.0.0.7:9002", {}};
        doc.taken_at = "2026-12-10T08:15:00Z";
        doc.program = "fuzz_seeds";
        doc.status = line("IFC_get_stat");
        doc.selection = line("IFC_get_select_item");
        for (int colour = protocol::first_colour; colour <= protocol::last_colour; ++colour) {
            const std::string n = std::to_string(colour);
            auto valves = line("IFC_get_on_off_" + n);
            valves.erase(valves.begin());  // the constant ATC_TO_DELAY
            doc.colours.push_back({colour, line("IFC_get_Tot_Twt_" + n), valves});
        }
        doc.histogram_selection = ifc_client::histogram_choice{{1, "tw"}, {2, "tw"}};
        write_seed(documents, "machine.json", ifc_client::format_document(doc));
        ifc_client::settings_document part;
        part.colour_block(3).valves = doc.colour(3)->valves;
        part.source.files = {"/var/lib/ifc-server/valve_fp.set"};
        write_seed(documents, "valves_of_colour_3.json", ifc_client::format_document(part));
        for (const std::string_view word :
             {"\"format\"", "\"ifc-settings-document\"", "\"version\"", "\"colours\"", "\"colour\"",
              "\"targets\"", "\"valves\"", "\"status\"", "\"selection\"", "\"histogram_selection\"",
              "\"left_item\"", "\"source\"", "\"files\"", "\"taken_at\"", "\"written_by\""}) {
            document_words.emplace_back(word);
        }
    }

    // Rules files for the proxy's rules reader: the recipes of its guide, and files at its
    // bounds.
    const fs::path rules = corpus / "proxy_rules";
    for (const auto& entry : fs::directory_iterator(root.parent_path() / "docs" / "proxy-rules")) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        write_seed(rules, entry.path().stem().string(), text);
    }
    write_seed(rules, "occurrences",
               R"({"rules": [{"label": "a", "kind": "GET", "command": "IFC_get_[so]*",)"
               R"( "nth": 2, "limit": 3, "action": "delay", "seconds": [0.1, 0.2]},)"
               R"( {"every": 3, "action": "throttle", "bytes_per_second": 1e9},)"
               R"( {"probability": 0.5, "kind": "PUT", "action": "cut", "at": "after_chunk",)"
               R"( "chunk": 250, "mode": "reset"}]})");
    write_seed(rules, "numbers_at_the_edges",
               R"({"rules": [{"action": "refuse", "seconds": 1e400},)"
               R"( {"nth": 18446744073709551616, "action": "delay", "seconds": -0.0}]})");
    write_seed(rules, "nested", R"({"rules": [{"action": "delay", "seconds": [[[[[[1]]]]]]}]})");

    // The answers of a poll for the gateway, in the order its poll asks for them (found by
    // asking), as a fresh installation gives them, and with odd bytes in places.
    const fs::path gateway_answers = corpus / "gateway_answers";
    std::vector<std::string> poll_answers;
    std::vector<std::string> poll_names;
    (void)gateway::read_snapshot([&](std::string_view name) -> ifc_client::result<std::string> {
        poll_names.emplace_back(name);
        poll_answers.push_back(answer_of(name));
        return poll_answers.back();
    });
    const auto with_answer = [&](std::string_view name, std::string answer) {
        auto changed = poll_answers;
        for (std::size_t i = 0; i < poll_names.size(); ++i) {
            if (poll_names[i] == name) changed[i] = std::move(answer);
        }
        return gateway_answers_input::join(changed);
    };
    write_seed(gateway_answers, "fresh", gateway_answers_input::join(poll_answers));
    write_seed(gateway_answers, "item_not_utf8",
               with_answer("IFC_get_hst_select", "1 \xff\xfe 2 tw"));
    write_seed(gateway_answers, "item_quote_line_feed",
               with_answer("IFC_get_hst_select", "1 a\"b\n\\ 2 t\xc3"));
    write_seed(gateway_answers, "status_not_utf8",
               with_answer("IFC_get_stat", "color:\xff mode:0 totw_sw:0 "));
    write_seed(gateway_answers, "failure_with_odd_bytes",
               with_answer("IFC_get_select_item",
                           std::string(1, gateway_answers_input::failure_mark) + "\x05\xff\n\"x"));
    write_seed(gateway_answers, "three_answers",
               gateway_answers_input::join({poll_answers.begin(), poll_answers.begin() + 3}));

    // Dictionaries: tokens and names the targets' inputs are made of.
    const fs::path dict = root / "dict";
    fs::create_directories(dict);
    std::vector<std::string> wire{
        std::string(protocol::get_token), std::string(protocol::put_token),
        std::string(protocol::ping_token), std::string(protocol::disconnect_token),
        std::string(protocol::next_token)};
    std::vector<std::string> put_names;
    std::vector<std::string> keys;
    for (const std::string_view name : get_names)
        wire.push_back(get_header(name).substr(3));
    for (const put_seed& seed : put_seeds) {
        put_names.push_back(std::string(seed.name) + '\0');
    }
    for (const cj_pair& pair : cj) {
        if (pair.key[0] != '\0') keys.push_back(std::string(pair.key) + ':');
    }
    for (const char* k : {"pin:", "sub1:", "sub20:", "all:", "color:", "mode:", "totw_sw:", "to:",
                          "tw:", "LEFT", "RIGHT", "tbw", "tw_tbw"}) {
        keys.emplace_back(k);
    }
    std::vector<std::string> server_words = wire;
    server_words.insert(server_words.end(), put_names.begin(), put_names.end());
    server_words.insert(server_words.end(), keys.begin(), keys.end());
    write_dict(dict / "server.dict", server_words);
    std::vector<std::string> put_words = put_names;
    put_words.insert(put_words.end(), keys.begin(), keys.end());
    write_dict(dict / "put_data.dict", put_words);
    write_dict(dict / "line2matrix2.dict", keys);
    std::vector<std::string> record_names;
    for (const i4_item& item : ifc_net::i4_init) {
        if (item.name[0] != '\0') record_names.emplace_back(item.name);
    }
    for (const i4_item& item : vfp_ifc::i4_init) {
        if (item.name[0] != '\0') record_names.emplace_back(item.name);
    }
    write_dict(dict / "table.dict", record_names);
    std::vector<std::string> tracker_words = wire;
    for (const std::string_view token :
         {protocol::fin_token, protocol::err_token, std::string_view("LEN0000000025"),
          std::string_view("LEN-000000001"), std::string_view("LEN0000000000")}) {
        tracker_words.emplace_back(token);
    }
    tracker_words.insert(tracker_words.end(), put_names.begin(), put_names.end());
    write_dict(dict / "proxy_tracker.dict", tracker_words);
    write_dict(dict / "document.dict", document_words);

    std::vector<std::string> rules_words{
        "{\"rules\": [", "]}",   "\"",    ":",  ",",   "{",    "}",      "[", "]",
        "true",          "null", "1e400", "-1", "0.5", "3600", "\\u0000"};
    const auto quoted_word = [](std::string_view word) { return '"' + std::string(word) + '"'; };
    for (const std::string_view field : proxy::common_rule_fields())
        rules_words.push_back(quoted_word(field));
    for (const proxy::action a : proxy::every_action) {
        rules_words.push_back(quoted_word(proxy::action_name(a)));
        for (const std::string_view field : proxy::fault_of(a).fields()) {
            // Actions share some fields ("seconds", "at").
            const std::string word = quoted_word(field);
            if (std::find(rules_words.begin(), rules_words.end(), word) == rules_words.end())
                rules_words.push_back(word);
        }
    }
    for (const std::string_view word : {"GET", "PUT", "PING", "DISCONNECT", "before_len",
                                        "after_chunk", "before_fin", "close", "reset", "random"})
        rules_words.push_back(quoted_word(word));
    write_dict(dict / "proxy_rules.dict", rules_words);

    std::vector<std::string> gateway_words{std::string(1, gateway_answers_input::answer_separator),
                                           std::string(1, gateway_answers_input::failure_mark),
                                           "\xff",
                                           "\xc3\xa9",
                                           "\xed\xa0\x80",
                                           "\xf4\x90\x80\x80",
                                           "\xe2\x82",
                                           "\"",
                                           "\\",
                                           "\n",
                                           " ",
                                           "4.65"};
    gateway_words.insert(gateway_words.end(), keys.begin(), keys.end());
    write_dict(dict / "gateway_answers.dict", gateway_words);
    std::fprintf(stderr, "seeds written under %s\n", root.c_str());
    return 0;
}
