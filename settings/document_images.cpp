#include "settings/document_images.h"

#include <algorithm>
#include <cstring>

#include "client/commands.h"
#include "ifc/ifc_net.h"
#include "lib/i4_record.h"
#include "settings/settings_image.h"
#include "valve/vfp_on_off.h"

namespace settings_tool {

namespace {

using ifc_client::section;
using ifc_client::settings_document;
namespace cmd = ifc_client::commands;

// Where a value lives: a slot of a named record in one of the two files. The slots of the
// status, selection, targets and histogram selection are those the interface commands use
// (docs/protocol.md, section 9); the valve records are the valve commands' own table.
struct binding {
    bool valve_file = false;
    std::string record;
    int slot = 0;
};

constexpr const char* status_record = "STAT_1";
constexpr const char* histogram_record = "STAT_2";
// The selection: pin, abs, main, tandem, stretch in slots 2..6 of "V"; sub nozzle K in "S1"
// to "S4", six a record, in slots 1..6.
constexpr const char* device_record = "V";
constexpr int first_device_slot = 2;
constexpr std::size_t device_count = 5;
constexpr int subs_per_record = 6;
// The histogram selection in "STAT_2": left item, left colour, right item, right colour.
constexpr std::array<int, 4> histogram_slots{2, 1, 4, 3};  // in histogram_selection_keys order

std::size_t index_of(std::span<const std::string_view> keys, std::string_view key) {
    return static_cast<std::size_t>(std::find(keys.begin(), keys.end(), key) - keys.begin());
}

binding binding_of(section s, int colour, std::string_view key) {
    switch (s) {
        case section::status:
            return {false, status_record, static_cast<int>(index_of(cmd::status_keys, key)) + 1};
        case section::selection: {
            const std::size_t i = index_of(cmd::selection_keys, key);
            if (i < device_count) {
                return {false, device_record, first_device_slot + static_cast<int>(i)};
            }
            const int sub = static_cast<int>(i - device_count);  // sub nozzle number - 1
            return {false, "S" + std::to_string(sub / subs_per_record + 1),
                    sub % subs_per_record + 1};
        }
        case section::targets:
            return {false, key == cmd::target_keys[0] ? "Tot" : "Twt", colour};
        case section::valves:
            for (const cj_pair& pair : cj) {
                if (key == pair.key) return {true, pair.record, colour};
            }
            break;
        case section::histogram_selection:
            return {false, histogram_record,
                    histogram_slots[index_of(ifc_client::histogram_selection_keys, key)]};
    }
    return {};
}

std::string_view file_of(const binding& b) {
    return b.valve_file ? valve_table().file_name : interface_table().file_name;
}

std::string where_of(const binding& b) {
    return "record \"" + b.record + "\" slot " + std::to_string(b.slot) + " of " +
           std::string(file_of(b));
}

// The records of an image as the server loads it: its table's size, the rest left out.
struct loaded_table {
    std::vector<i4_item> records;
    bool whole = false;
};

loaded_table load(const std::string& image, const table_kind& table) {
    loaded_table t;
    t.whole = image.size() >= table.image_size();
    if (t.whole) t.records = records_of(std::string_view(image).substr(0, table.image_size()));
    return t;
}

std::string short_problem(const table_kind& table, std::size_t size) {
    return std::string(table.file_name) + ": " + std::to_string(size) + " of " +
           std::to_string(table.image_size()) +
           " bytes: shorter than its table (the server would replace it with the defaults)";
}

// Reads the values of one image into the document.
class image_reader {
  public:
    image_reader(const loaded_table& t, images_reading& out) : table_(t), out_(out) {}

    std::optional<std::int32_t> value(section s, std::size_t block, int colour,
                                      std::string_view key) {
        const binding b = binding_of(s, colour, key);
        std::int32_t v = 0;
        if (fp_main_read(b.record.c_str(), &v, b.slot, table_.records) == 0) return v;
        out_.problems.push_back(ifc_client::value_path(s, block, key) + ": " + where_of(b) +
                                " cannot be read (missing, or of an unusable type)");
        return std::nullopt;
    }

    std::optional<ifc_client::token_line> line(section s, std::size_t block, int colour) {
        ifc_client::token_line items;
        bool whole = true;
        for (std::string_view key : ifc_client::keys_of(s)) {
            const auto v = value(s, block, colour, key);
            if (v) items.push_back({std::string(key), *v});
            whole = whole && v.has_value();
        }
        if (!whole) return std::nullopt;
        return items;
    }

    std::optional<ifc_client::side_choice> side(std::size_t first_key) {
        const auto& keys = ifc_client::histogram_selection_keys;
        const auto colour = value(section::histogram_selection, 0, 0, keys[first_key]);
        const auto item = value(section::histogram_selection, 0, 0, keys[first_key + 1]);
        if (!colour || !item) return std::nullopt;
        if (*item < 0 || *item >= static_cast<std::int32_t>(key_str.size())) {
            out_.problems.push_back(
                ifc_client::value_path(section::histogram_selection, 0, keys[first_key + 1]) +
                ": " + where_of(binding_of(section::histogram_selection, 0, keys[first_key + 1])) +
                " holds " + std::to_string(*item) + ", which names no histogram item");
            return std::nullopt;
        }
        return ifc_client::side_choice{*colour,
                                       std::string(key_str[static_cast<std::size_t>(*item)])};
    }

  private:
    const loaded_table& table_;
    images_reading& out_;
};

// Writes values into one image's records and counts them.
class image_writer {
  public:
    image_writer(std::vector<i4_item>& records, int& values, int& changed,
                 std::vector<std::string>& problems)
        : records_(records), values_(values), changed_(changed), problems_(problems) {}

    void value(section s, std::size_t block, int colour, std::string_view key, std::int32_t v) {
        const binding b = binding_of(s, colour, key);
        std::int32_t old = 0;
        const bool readable = fp_main_read(b.record.c_str(), &old, b.slot, records_) == 0;
        if (!readable || fp_main_write(b.record.c_str(), v, b.slot, records_) != 0) {
            problems_.push_back(ifc_client::value_path(s, block, key) + ": " + where_of(b) +
                                " cannot be written (missing, or of an unusable type)");
            return;
        }
        ++values_;
        if (old != v) ++changed_;
    }

    void line(section s, std::size_t block, int colour, const ifc_client::token_line& items) {
        for (const auto& t : items)
            value(s, block, colour, t.key, t.value);
    }

  private:
    std::vector<i4_item>& records_;
    int& values_;
    int& changed_;
    std::vector<std::string>& problems_;
};

int item_index(std::string_view item) {
    return static_cast<int>(std::find(key_str.begin(), key_str.end(), item) - key_str.begin());
}

// The records back into the image: the table's bytes replaced, any longer rest kept.
void store(std::string& image, const std::vector<i4_item>& records) {
    std::memcpy(image.data(), records.data(), records.size() * sizeof(i4_item));
}

}  // namespace

bool sets_interface(const settings_document& doc) {
    return doc.status || doc.selection || doc.histogram_selection ||
           std::any_of(doc.colours.begin(), doc.colours.end(),
                       [](const auto& c) { return c.targets.has_value(); });
}

bool sets_valves(const settings_document& doc) {
    return std::any_of(doc.colours.begin(), doc.colours.end(),
                       [](const auto& c) { return c.valves.has_value(); });
}

images_reading document_of(const settings_images& images) {
    images_reading out;
    settings_document& doc = out.document;
    if (images.interface_image) {
        const loaded_table t = load(*images.interface_image, interface_table());
        if (!t.whole) {
            out.problems.push_back(
                short_problem(interface_table(), images.interface_image->size()));
        } else {
            image_reader read(t, out);
            doc.status = read.line(section::status, 0, 0);
            doc.selection = read.line(section::selection, 0, 0);
            for (int colour = cmd::first_colour; colour <= cmd::last_colour; ++colour) {
                doc.colour_block(colour).targets =
                    read.line(section::targets, static_cast<std::size_t>(colour - 1), colour);
            }
            auto left = read.side(0);
            auto right = read.side(2);
            if (left && right)
                doc.histogram_selection = ifc_client::histogram_choice{*left, *right};
        }
    }
    if (images.valve_image) {
        const loaded_table t = load(*images.valve_image, valve_table());
        if (!t.whole) {
            out.problems.push_back(short_problem(valve_table(), images.valve_image->size()));
        } else {
            image_reader read(t, out);
            for (int colour = cmd::first_colour; colour <= cmd::last_colour; ++colour) {
                doc.colour_block(colour).valves =
                    read.line(section::valves, static_cast<std::size_t>(colour - 1), colour);
            }
        }
    }
    for (std::string& problem : ifc_client::check_document(doc))
        out.problems.push_back(std::move(problem));
    return out;
}

images_writing write_document(const settings_document& doc, settings_images& images) {
    images_writing out;
    if (sets_interface(doc)) {
        std::string& image = *images.interface_image;
        loaded_table t = load(image, interface_table());
        if (!t.whole) {
            out.problems.push_back(short_problem(interface_table(), image.size()));
        } else {
            image_writer write(t.records, out.interface_values, out.interface_changed,
                               out.problems);
            if (doc.status) write.line(section::status, 0, 0, *doc.status);
            if (doc.selection) write.line(section::selection, 0, 0, *doc.selection);
            for (std::size_t i = 0; i < doc.colours.size(); ++i) {
                const auto& block = doc.colours[i];
                if (block.targets) write.line(section::targets, i, block.colour, *block.targets);
            }
            if (doc.histogram_selection) {
                const auto& keys = ifc_client::histogram_selection_keys;
                const auto& c = *doc.histogram_selection;
                write.value(section::histogram_selection, 0, 0, keys[0], c.left.colour);
                write.value(section::histogram_selection, 0, 0, keys[1], item_index(c.left.item));
                write.value(section::histogram_selection, 0, 0, keys[2], c.right.colour);
                write.value(section::histogram_selection, 0, 0, keys[3], item_index(c.right.item));
            }
            store(image, t.records);
        }
    }
    if (sets_valves(doc)) {
        std::string& image = *images.valve_image;
        loaded_table t = load(image, valve_table());
        if (!t.whole) {
            out.problems.push_back(short_problem(valve_table(), image.size()));
        } else {
            image_writer write(t.records, out.valve_values, out.valve_changed, out.problems);
            for (std::size_t i = 0; i < doc.colours.size(); ++i) {
                const auto& block = doc.colours[i];
                if (block.valves) write.line(section::valves, i, block.colour, *block.valves);
            }
            store(image, t.records);
        }
    }
    return out;
}

}  // namespace settings_tool
