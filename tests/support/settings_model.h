// A model of the settings the server must hold: both tables as the server writes them,
// starting from the defaults, changed by the slot writes that each write command implies,
// with the answers the read commands must give and the file images the server must store.
// The soak test and the crash tests describe every request by its writes and compare the
// server with this model.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ifc/ifc_net.h"
#include "lib/i4_record.h"
#include "valve/vfp_ifc.h"

namespace test_support {

enum class settings_file { interface, valve };

// One value that a write command stores: the accessor call Ifc_SetWrite or VfpWrite.
struct slot_write {
    settings_file file;
    std::string record;
    int slot;
    std::int32_t value;
};

class settings_model {
  public:
    settings_model();

    void apply(const slot_write& w);
    void apply(const std::vector<slot_write>& writes);
    std::int32_t value(settings_file file, std::string_view record, int slot) const;

    // The images of "ifc_set.set" and "valve_fp.set".
    std::string interface_image() const;
    std::string valve_image() const;
    // Both images, for comparing both files at once.
    std::string images() const { return interface_image() + valve_image(); }
    // Takes the state of the two images (as images() gives them). false when they do not
    // have the sizes of the two files.
    bool assign(std::string_view images);

    // The answers of the read commands of the settings.
    std::string stat_answer() const;
    std::string select_answer() const;
    std::string targets_answer(int colour) const;
    std::string on_off_answer(int colour) const;
    std::string hst_select_answer() const;

  private:
    std::array<i4_item, ifc_net::table_records> ifc_;
    std::array<i4_item, vfp_ifc::table_records> vfp_;
};

// Tokens as a write argument: "key:value " for each, in order.
using token_list = std::vector<std::pair<std::string, std::int32_t>>;
std::string token_line(const token_list& tokens);

// The writes of the valve write command of colour for tokens (key, value) that each name a
// valve key: one per token, in token order.
std::vector<slot_write> on_off_writes(int colour, const token_list& tokens);
// The record behind a valve key of the on/off commands ("" when the key is not one of them).
std::string valve_record_of(std::string_view key);
// The 45 valve keys in answer order.
const std::vector<std::string>& valve_keys();

// A selection keyword and the interface slot behind it. The tests' own copy of the mapping,
// written from the documentation and kept apart from the server's table: it is the oracle
// that table is checked against, so the tests must not use the server's.
struct select_slot {
    const char* key;
    const char* record;
    int slot;
};
extern const std::array<select_slot, 25> select_slots;

}  // namespace test_support
