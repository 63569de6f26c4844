#include "tests/soak/soak_requests.h"

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

namespace soak {

namespace {

using test_support::settings_file;
using test_support::slot_write;
using test_support::token_list;

int pick(rng_type& rng, int n) {
    return static_cast<int>(rng() % static_cast<std::uint64_t>(n));
}

bool one_in(rng_type& rng, int n) {
    return pick(rng, n) == 0;
}

// Mostly small numbers, now and then a negative one or a limit of the 32-bit range.
std::int32_t some_value(rng_type& rng) {
    switch (pick(rng, 8)) {
        case 0:
            return std::numeric_limits<std::int32_t>::max();
        case 1:
            return std::numeric_limits<std::int32_t>::min();
        case 2:
            return -pick(rng, 1000);
        default:
            return pick(rng, 1000);
    }
}

std::string payload(std::string_view name, std::string_view argument) {
    std::string p(name);
    p += '\0';
    p += argument;
    return p;
}

std::string colour_name(std::string_view family, int colour) {
    return std::string(family) + std::to_string(colour);
}

planned_put set_stat(rng_type& rng) {
    const std::array<std::int32_t, 3> v{some_value(rng), some_value(rng), some_value(rng)};
    const std::string arg = "color:" + std::to_string(v[0]) + " mode:" + std::to_string(v[1]) +
                            " totw_sw:" + std::to_string(v[2]) + " ";
    std::vector<slot_write> writes;
    for (int slot = 1; slot <= 3; ++slot) {
        writes.push_back({settings_file::interface, "STAT_1", slot, v[slot - 1]});
    }
    return {"set_stat", payload("IFC_set_stat", arg), writes};
}

planned_put set_select_item(rng_type& rng) {
    if (one_in(rng, 8)) {
        std::vector<slot_write> writes;
        for (const auto& s : test_support::select_slots) {
            writes.push_back({settings_file::interface, s.record, s.slot, 0});
        }
        return {"select_all", payload("IFC_set_select_item", "all:" + std::to_string(pick(rng, 3))),
                writes};
    }
    const auto& s = test_support::select_slots[static_cast<std::size_t>(pick(rng, 25))];
    const std::int32_t value = one_in(rng, 3) ? some_value(rng) : pick(rng, 2);
    return {"set_select_item",
            payload("IFC_set_select_item", std::string(s.key) + ":" + std::to_string(value)),
            {{settings_file::interface, s.record, s.slot, value}}};
}

planned_put set_to_tw(rng_type& rng) {
    const int colour = 1 + pick(rng, 6);
    const std::int32_t to = some_value(rng);
    const std::int32_t tw = some_value(rng);
    return {"set_to_tw",
            payload(colour_name("IFC_set_to_tw_", colour),
                    "to:" + std::to_string(to) + " tw:" + std::to_string(tw) + " "),
            {{settings_file::interface, "Tot", colour, to},
             {settings_file::interface, "Twt", colour, tw}}};
}

// A few valve keys, with keys no command knows between them; now and then a token that
// begins with the colon, which ends the line for the server, and tokens after it.
planned_put set_on_off(rng_type& rng) {
    const int colour = 1 + pick(rng, 6);
    const auto& keys = test_support::valve_keys();
    token_list known;
    std::string line;
    const int tokens = 1 + pick(rng, 6);
    for (int t = 0; t < tokens; ++t) {
        if (one_in(rng, 5)) {
            constexpr std::array<std::string_view, 4> unknown{"ATC_TO_DELAY:5", "sub19_on:10",
                                                              "Main_on:1", "main_on"};
            line += std::string(unknown[static_cast<std::size_t>(pick(rng, 4))]) + " ";
        }
        const std::string& key = keys[static_cast<std::size_t>(pick(rng, 45))];
        std::int32_t value = some_value(rng);
        std::string text = std::to_string(value);
        if (one_in(rng, 10)) {
            text = "abc";  // no digits: stored as 0
            value = 0;
        } else if (one_in(rng, 10)) {
            text += "x";  // digits up to the first other character
        }
        line += key + ":" + text + " ";
        known.emplace_back(key, value);
    }
    if (one_in(rng, 6)) line += ":7 " + keys[0] + ":1 ";  // ignored from ":7" on
    return {"set_on_off", payload(colour_name("IFC_set_on_off_", colour), line),
            test_support::on_off_writes(colour, known)};
}

planned_put hst_select_item(rng_type& rng) {
    const bool left = one_in(rng, 2);
    const int colour = pick(rng, 8);
    const int item = pick(rng, 13);  // 12 is no key
    const std::string key = item < static_cast<int>(key_str.size())
                                ? std::string(key_str[static_cast<std::size_t>(item)])
                                : "xx";
    std::vector<slot_write> writes;
    if (colour >= 1 && colour <= 6) {
        writes.push_back({settings_file::interface, "STAT_2", left ? 2 : 4, colour});
    }
    if (item < static_cast<int>(key_str.size())) {
        writes.push_back({settings_file::interface, "STAT_2", left ? 1 : 3, item});
    }
    return {"hst_select_item",
            payload("IFC_hst_select_item",
                    std::string(left ? "LEFT " : "RIGHT ") + std::to_string(colour) + " " + key),
            writes};
}

// Requests that print a line and store nothing.
planned_put print_only(rng_type& rng) {
    switch (pick(rng, 3)) {
        case 0:
            return {"hst_clear", payload("IFC_hst_clear", "1 tw"), {}};
        case 1:
            return {"hst_set", payload("IFC_hst_set", "1 tw 5 2 tbw 5 100"), {}};
        default:
            return {"btnstat", payload("MLETOFF_set_btnstat", std::to_string(pick(rng, 2))), {}};
    }
}

}  // namespace

planned_put valid_put(rng_type& rng) {
    switch (pick(rng, 12)) {
        case 0:
        case 1:
            return set_stat(rng);
        case 2:
        case 3:
            return set_select_item(rng);
        case 4:
        case 5:
            return set_to_tw(rng);
        case 6:
        case 7:
        case 8:
            return set_on_off(rng);
        case 9:
        case 10:
            return hst_select_item(rng);
        default:
            return print_only(rng);
    }
}

planned_put no_effect_put(rng_type& rng) {
    static const std::array<std::string, 14> payloads{
        payload("IFC_set_nothing", "color:1 mode:1 totw_sw:1 "),
        "IFC_set_stat color:5 mode:5 totw_sw:5 ",  // no NUL
        payload("IFC_set_stat ", "color:5 mode:5 totw_sw:5 "),
        payload("", "pin:1"),
        payload("IFC_set_stat", "color:3 mode:1"),
        payload("IFC_set_stat", "color 3 mode 1 totw_sw 1"),
        payload("IFC_set_stat", ""),
        payload("IFC_set_select_item", "sub21:1"),
        payload("IFC_set_select_item", "Pin:1"),
        payload("IFC_set_select_item", "pin 1"),
        payload("IFC_set_on_off_3", "sub19_on:10 ATC_TO_DELAY:5 MAIN_ON:3 "),
        payload("IFC_set_on_off_4", "    "),
        payload("IFC_set_on_off_5", ":5 main_on:3"),
        payload("IFC_set_to_tw_2", "to:1"),
    };
    if (one_in(rng, 8)) {
        // Bytes that name no command (the first is no letter of any name).
        std::string garbage(1 + pick(rng, 3000), '\0');
        for (char& c : garbage)
            c = static_cast<char>(rng());
        garbage[0] = '\xff';
        return {"garbage_payload", garbage, {}};
    }
    return {"no_effect", payloads[static_cast<std::size_t>(pick(rng, 14))], {}};
}

planned_put long_valve_line(rng_type& rng, std::size_t size) {
    const int colour = 1 + pick(rng, 6);
    token_list tokens;
    for (const std::string& key : test_support::valve_keys()) {
        tokens.emplace_back(key, some_value(rng));
    }
    std::string line = test_support::token_line(tokens);
    const std::string name = colour_name("IFC_set_on_off_", colour);
    line.resize(size > name.size() + 1 + line.size() ? size - name.size() - 1 : line.size(), ' ');
    return {"long_valve_line", payload(name, line), test_support::on_off_writes(colour, tokens)};
}

}  // namespace soak
