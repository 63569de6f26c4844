// Table loading and every accessor on arbitrary settings-file images. The first input byte
// picks the table (bit 0: interface or valve) and a colour number; the rest is the file image,
// of any length. Each input goes through three rounds on the same image:
//   1. the record operations on the image as a table in memory (a heap block of exactly the
//      table's capacity, so a lookup that runs past the table is caught);
//   2. the image as the settings file, read and written through the accessors. A read never
//      rewrites a file of full size, and a shorter file is replaced by the defaults;
//   3. the image as the settings file again, under every command of the table, each write
//      command fed with its read twin's answer;
//   4. a write request of the table whose save fails at one call (picked by the image): the
//      file holds what it held before the request, or all of the request's changes.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/memory_io.h"
#include "fuzz/scratch_dir.h"
#include "ifc/ifc_net.h"
#include "lib/i4_record.h"
#include "lib/i4_table_file.h"
#include "protocol/protocol.h"
#include "valve/vfp_ifc.h"

namespace {

struct table_under_test {
    const char* file;
    std::span<const i4_item> defaults;
    int (*read)(const char* name, std::int32_t* out, int slot);
    int (*write)(const char* name, std::int32_t value, int slot);
    void (*reset)();
    void (*load)();
};

const table_under_test interface_table{
    ifc_net::settings_file, ifc_net::i4_init, Ifc_SetRead, Ifc_SetWrite, I_ifc, i_ifc};
const table_under_test valve_table{
    vfp_ifc::settings_file, vfp_ifc::i4_init, VfpRead, VfpWrite, I_vfp, i_vfp};

// The transfer buffer of the server: the largest payload and the byte after it.
char transfer[protocol::max_payload + 1];

std::string_view as_text(std::span<const std::byte> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

void write_image(const char* file, std::string_view image) {
    memory_io::put_file(file, image);
}

std::string read_image(const char* file) {
    return memory_io::file(file).value_or("<missing>");
}

// Names to look up, at most max_names of them, picked from a start the input chooses with an
// even step over the candidates: every record's name field as the image has it (cut to 27
// characters when it holds no NUL), every default name, the empty name and one longer than any
// field. Every candidate is reached by some input, and no input costs a table scan per record;
// only the picked names are copied.
constexpr std::size_t max_names = 12;
std::vector<std::string> names_from(std::span<const i4_item> image,
                                    std::span<const i4_item> defaults, std::uint32_t seed) {
    static const std::string longer_than_any(40, 'V');
    const std::size_t count = image.size() + defaults.size() + 2;
    const auto candidate = [&](std::size_t i) -> std::string_view {
        if (i < image.size()) return {image[i].name, ::strnlen(image[i].name, i4_name_len - 1)};
        i -= image.size();
        if (i < defaults.size()) return defaults[i].name;
        return i == defaults.size() ? std::string_view{} : std::string_view{longer_than_any};
    };
    const std::size_t step = std::max<std::size_t>(1, count / max_names);
    std::vector<std::string> picked;
    for (std::size_t n = 0, i = seed % count; n < std::min(max_names, count); ++n, i += step)
        picked.emplace_back(candidate(i % count));
    std::sort(picked.begin(), picked.end());
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    return picked;
}

std::uint32_t value_seed(const std::uint8_t* data, std::size_t size) {
    std::uint32_t seed = 2166136261u;  // FNV-1a over the last bytes of the input
    for (std::size_t i = size > 16 ? size - 16 : 0; i < size; ++i)
        seed = (seed ^ data[i]) * 16777619u;
    return seed;
}

// Round 1: the record operations on a table in memory.
void record_operations(std::span<const std::byte> image, std::size_t capacity,
                       const std::vector<std::string>& names, int slot, std::int32_t value) {
    std::vector<i4_item> table(capacity);
    std::memcpy(table.data(), image.data(), std::min(image.size(), capacity * sizeof(i4_item)));
    for (const std::string& name : names) {
        std::int32_t out = 0;
        fp_main_read(name.c_str(), &out, slot, table);
        fp_main_compare(name.c_str(), value, slot, table);
        fp_main_write(name.c_str(), value, slot, table);
        change_i4_type(table, name.c_str(), value);
        change_i4_type(table, name.c_str(), 1 + (value & 3));
        change_i4_min_max(table, name.c_str(), value, value ^ 0x55);
    }
}

// Round 2: the accessors, within one request as the server calls them and one by one as the
// tools do. A read leaves a full-size file alone; any access replaces a shorter one by the
// defaults; a write leaves a file of exactly the table's size.
void accessors(const table_under_test& t, std::string_view image,
               const std::vector<std::string>& names, int slot, std::int32_t value) {
    const std::string defaults = std::string(as_text(std::as_bytes(t.defaults)));
    write_image(t.file, image);
    {
        const store_request request;
        for (const std::string& name : names) {
            std::int32_t out = 0;
            t.read(name.c_str(), &out, slot);
        }
    }
    const std::string now = read_image(t.file);
    if (image.size() >= defaults.size() ? now != image : now != defaults) std::abort();
    t.load();
    t.reset();
    t.load();
    for (std::size_t i = 0; i < names.size(); i += 7) {
        std::int32_t out = 0;
        t.read(names[i].c_str(), &out, slot);
        t.write(names[i].c_str(), value, slot);
        if (read_image(t.file).size() != defaults.size()) std::abort();
    }
    {
        const store_request request;
        for (std::size_t i = 3; i < names.size(); i += 7)
            t.write(names[i].c_str(), value ^ 7, slot);
    }
    if (read_image(t.file).size() != defaults.size()) std::abort();
}

using get_command = int (*)(char*);
using put_command = int (*)(char*, int);

struct command_pair {
    get_command get;
    put_command put;  // fed with the answer of get; nullptr: none
};

// Every command runs as one request of the server, as the dispatcher runs it.
void run_get(get_command get) {
    const store_request request;
    const int len = get(transfer);
    if (len < 0 || len > protocol::max_payload) std::abort();
}

// The answer of get, sent back as the argument of put: copied into a block of its own length
// and one byte more, as it would lie in the transfer buffer.
void round_trip(const command_pair& c) {
    int len = 0;
    {
        const store_request request;
        len = c.get(transfer);
    }
    if (len < 0 || len > protocol::max_payload) std::abort();
    if (c.put == nullptr) return;
    std::vector<char> arg(transfer, transfer + len);
    arg.push_back('X');
    const store_request request;
    c.put(arg.data(), len);
}

void put_text(put_command put, std::string_view text) {
    std::vector<char> arg(text.begin(), text.end());
    arg.push_back('X');
    const store_request request;
    put(arg.data(), static_cast<int>(text.size()));
}

constexpr std::array<get_command, 6> on_off_gets{IFC_get_on_off_1, IFC_get_on_off_2,
                                                 IFC_get_on_off_3, IFC_get_on_off_4,
                                                 IFC_get_on_off_5, IFC_get_on_off_6};
constexpr std::array<put_command, 6> on_off_puts{IFC_set_on_off_1, IFC_set_on_off_2,
                                                 IFC_set_on_off_3, IFC_set_on_off_4,
                                                 IFC_set_on_off_5, IFC_set_on_off_6};

// Round 3: the commands of the table.
void commands(const table_under_test& t, std::string_view image, int colour) {
    write_image(t.file, image);
    const auto c = static_cast<std::size_t>(colour - 1);
    if (&t == &valve_table) {
        round_trip({on_off_gets[c], on_off_puts[c]});
        return;
    }
    constexpr std::array<get_command, 6> targets{IFC_get_Tot_Twt_1, IFC_get_Tot_Twt_2,
                                                 IFC_get_Tot_Twt_3, IFC_get_Tot_Twt_4,
                                                 IFC_get_Tot_Twt_5, IFC_get_Tot_Twt_6};
    constexpr std::array<put_command, 6> set_targets{IFC_set_to_tw_1, IFC_set_to_tw_2,
                                                     IFC_set_to_tw_3, IFC_set_to_tw_4,
                                                     IFC_set_to_tw_5, IFC_set_to_tw_6};
    round_trip({IFC_get_stat, IFC_set_stat});
    round_trip({IFC_get_select_item, nullptr});
    round_trip({targets[c], set_targets[c]});
    run_get(IFC_get_hst_select);
    run_get(IFC_get_hist_cntdatL);
    run_get(IFC_get_hist_cntdatR);
    run_get(IFC_get_To_Tw_1);
    run_get(IFC_get_histo_ave_1);
    put_text(IFC_set_select_item, "sub20:1");
    put_text(IFC_hst_select_item, "LEFT 3 tbw");
    put_text(IFC_hst_select_item, "RIGHT 9 xx");
    run_get(IFC_get_hst_select);
}

// Round 4: one request whose save fails at call nth of the I/O seam.
void failing_request(const table_under_test& t, int colour, std::int32_t value, int nth) {
    const std::string defaults = std::string(as_text(std::as_bytes(t.defaults)));
    const std::string argument =
        &t == &valve_table
            ? "main_on:" + std::to_string(value) + " sub3_off:" + std::to_string(value ^ 1) + " "
            : "to:" + std::to_string(value) + " tw:" + std::to_string(value ^ 1) + " ";
    const auto c = static_cast<std::size_t>(colour - 1);
    constexpr std::array<put_command, 6> set_targets{IFC_set_to_tw_1, IFC_set_to_tw_2,
                                                     IFC_set_to_tw_3, IFC_set_to_tw_4,
                                                     IFC_set_to_tw_5, IFC_set_to_tw_6};
    const put_command put = &t == &valve_table ? on_off_puts[c] : set_targets[c];
    const auto run = [&] {
        write_image(t.file, defaults);
        put_text(put, argument);
    };
    run();
    const std::string changed = read_image(t.file);
    memory_io::fail_call(nth, EIO);
    run();
    const std::string found = read_image(t.file);
    if (found != defaults && found != changed) std::abort();
    memory_io::fail_call(0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::enter_scratch_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    fuzz_support::fresh_settings();
    const table_under_test& t = (data[0] & 1) == 0 ? interface_table : valve_table;
    const int colour = 1 + (data[0] >> 1) % 6;
    const auto image = std::as_bytes(std::span(data + 1, size - 1));
    const std::size_t capacity = t.defaults.size();

    // The image as records, in a block kept from input to input.
    static std::vector<i4_item> table;
    table.assign(capacity, i4_item{});
    std::memcpy(table.data(), image.data(), std::min(image.size(), capacity * sizeof(i4_item)));
    const std::vector<std::string> names = names_from(table, t.defaults, value_seed(data, size));
    // A slot outside 0..6 now and then, and a value from the image.
    const int slot = static_cast<int>(data[0] >> 4) - 4;
    std::int32_t value = 0;
    std::memcpy(&value, table.data(), std::min(sizeof value, image.size()));

    record_operations(image, capacity, names, slot, value);
    accessors(t, as_text(image), names, slot, value);
    commands(t, as_text(image), colour);
    failing_request(t, colour, value, 1 + data[0] % 16);
    return 0;
}
