#include "tests/support/settings_model.h"

#include <cstring>

namespace test_support {

namespace {

template <class Table>
std::string bytes_of_table(const Table& t) {
    return std::string(reinterpret_cast<const char*>(t.data()), sizeof t);
}

std::string format_item(std::string_view key, std::int32_t value) {
    return std::string(key) + ":" + std::to_string(value) + " ";
}

}  // namespace

const std::array<select_slot, 25> select_slots{{
    {"pin", "V", 2},     {"abs", "V", 3},    {"main", "V", 4},   {"tandem", "V", 5},
    {"stretch", "V", 6}, {"sub1", "S1", 1},  {"sub2", "S1", 2},  {"sub3", "S1", 3},
    {"sub4", "S1", 4},   {"sub5", "S1", 5},  {"sub6", "S1", 6},  {"sub7", "S2", 1},
    {"sub8", "S2", 2},   {"sub9", "S2", 3},  {"sub10", "S2", 4}, {"sub11", "S2", 5},
    {"sub12", "S2", 6},  {"sub13", "S3", 1}, {"sub14", "S3", 2}, {"sub15", "S3", 3},
    {"sub16", "S3", 4},  {"sub17", "S3", 5}, {"sub18", "S3", 6}, {"sub19", "S4", 1},
    {"sub20", "S4", 2},
}};

settings_model::settings_model() : ifc_(ifc_net::i4_init), vfp_(vfp_ifc::i4_init) {}

void settings_model::apply(const slot_write& w) {
    if (w.file == settings_file::interface) {
        fp_main_write(w.record.c_str(), w.value, w.slot, ifc_);
    } else {
        fp_main_write(w.record.c_str(), w.value, w.slot, vfp_);
    }
}

void settings_model::apply(const std::vector<slot_write>& writes) {
    for (const slot_write& w : writes)
        apply(w);
}

std::int32_t settings_model::value(settings_file file, std::string_view record, int slot) const {
    std::int32_t v = 0;
    const std::string name(record);
    if (file == settings_file::interface) {
        fp_main_read(name.c_str(), &v, slot, ifc_);
    } else {
        fp_main_read(name.c_str(), &v, slot, vfp_);
    }
    return v;
}

std::string settings_model::interface_image() const {
    return bytes_of_table(ifc_);
}

std::string settings_model::valve_image() const {
    return bytes_of_table(vfp_);
}

bool settings_model::assign(std::string_view images) {
    if (images.size() != sizeof ifc_ + sizeof vfp_) return false;
    std::memcpy(ifc_.data(), images.data(), sizeof ifc_);
    std::memcpy(vfp_.data(), images.data() + sizeof ifc_, sizeof vfp_);
    return true;
}

std::string settings_model::stat_answer() const {
    const auto v = [&](int slot) { return value(settings_file::interface, "STAT_1", slot); };
    return format_item("color", v(1)) + format_item("mode", v(2)) + format_item("totw_sw", v(3));
}

std::string settings_model::select_answer() const {
    std::string answer;
    for (const select_slot& s : select_slots) {
        answer += format_item(s.key, value(settings_file::interface, s.record, s.slot));
    }
    return answer;
}

std::string settings_model::targets_answer(int colour) const {
    return format_item("to", value(settings_file::interface, "Tot", colour)) +
           format_item("tw", value(settings_file::interface, "Twt", colour));
}

std::string settings_model::on_off_answer(int colour) const {
    std::string answer = "ATC_TO_DELAY:0 ";
    for (const std::string& key : valve_keys()) {
        answer += format_item(key, value(settings_file::valve, valve_record_of(key), colour));
    }
    return answer;
}

std::string settings_model::hst_select_answer() const {
    const auto v = [&](int slot) { return value(settings_file::interface, "STAT_2", slot); };
    const auto key = [](std::int32_t item) -> std::string {
        if (item < 0 || item >= static_cast<std::int32_t>(key_str.size())) return "?";
        return std::string(key_str[static_cast<std::size_t>(item)]);
    };
    return std::to_string(v(2)) + " " + key(v(1)) + " " + std::to_string(v(4)) + " " + key(v(3));
}

std::string token_line(const token_list& tokens) {
    std::string line;
    for (const auto& [key, value] : tokens)
        line += format_item(key, value);
    return line;
}

std::vector<slot_write> on_off_writes(int colour, const token_list& tokens) {
    std::vector<slot_write> writes;
    for (const auto& [key, value] : tokens) {
        writes.push_back({settings_file::valve, valve_record_of(key), colour, value});
    }
    return writes;
}

std::string valve_record_of(std::string_view key) {
    if (key == "pin_on") return "VAL_pin_open";
    for (const std::string& k : valve_keys()) {
        if (k == key) return "VAL_" + k;
    }
    return "";
}

const std::vector<std::string>& valve_keys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k{"pin_on",     "abs_on",     "abs_off",
                                   "main_on",    "main_off",   "tandem_on",
                                   "tandem_off", "stretch_on", "stretch_off"};
        for (int n = 1; n <= 18; ++n) {
            k.push_back("sub" + std::to_string(n) + "_on");
            k.push_back("sub" + std::to_string(n) + "_off");
        }
        return k;
    }();
    return keys;
}

}  // namespace test_support
