#include "lib/i4_table_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "lib/diag.h"
#include "lib/sim_main.h"

namespace {

// The tables the current request has touched, to be saved at its end. The system has two.
constexpr std::size_t max_tables = 4;
std::array<const i4_table_file*, max_tables> touched{};
std::size_t touched_count = 0;
bool in_request = false;

void report_failure(const char* path, const char* what, int error) {
    diag::err_printf("server: %s: %s: %s\n", path, what, std::strerror(error));
}

bool save_table(const i4_table_file& t) {
    const auto image = std::as_bytes(t.table);
    if (hfp_save_data2(t.path, image.data(), static_cast<int>(image.size())) == 0) return true;
    report_failure(t.path, "cannot save", errno);
    return false;
}

void copy_defaults(const i4_table_file& t) {
    std::fill(t.table.begin(), t.table.end(), i4_item{});
    std::copy_n(t.defaults.begin(), std::min(t.defaults.size(), t.table.size()), t.table.begin());
}

// Loads the table from its file; the state tells what a save may do afterwards.
void load_into_state(const i4_table_file& t) {
    const image_load loaded = load_file_image(t.path, std::as_writable_bytes(t.table));
    i4_table_state& s = *t.state;
    s.loaded = true;
    s.writable = true;
    s.changed = false;
    switch (loaded.status) {
        case image_status::complete:
            return;
        case image_status::missing:
        case image_status::short_file:
            copy_defaults(t);
            s.changed = true;  // the defaults go to the file even if nothing else changes
            return;
        case image_status::not_regular:
            diag::err_printf(
                "server: %s: not a regular file; using the default settings, "
                "not saving them\n",
                t.path);
            break;
        default:
            report_failure(t.path, "cannot read; using the default settings, not saving them",
                           loaded.error);
            break;
    }
    copy_defaults(t);
    s.writable = false;
}

// Within a request: loads the table at its first access and remembers it for the end.
void load_once(const i4_table_file& t) {
    if (t.state->loaded) return;
    if (std::find(touched.begin(), touched.begin() + touched_count, &t) ==
            touched.begin() + touched_count &&
        touched_count < touched.size()) {
        touched[touched_count++] = &t;
    }
    load_into_state(t);
}

// Outside a request: a fresh load with the missing file replaced at once.
bool load_now(const i4_table_file& t) {
    load_into_state(t);
    t.state->loaded = false;
    if (t.state->changed) save_table(t);  // the defaults stand for this access even if unsaved
    return t.state->writable;
}

}  // namespace

void i4_table_reset(const i4_table_file& t) {
    copy_defaults(t);
    t.state->loaded = false;
}

bool i4_table_load(const i4_table_file& t) {
    if (!in_request) return load_now(t);
    t.state->loaded = false;
    load_once(t);
    return t.state->writable;
}

int i4_table_read(const i4_table_file& t, const char* name, std::int32_t* out, int slot) {
    if (in_request) {
        load_once(t);
    } else {
        load_now(t);
    }
    return fp_main_read(name, out, slot, t.table);
}

int i4_table_write(const i4_table_file& t, const char* name, std::int32_t value, int slot) {
    if (!in_request) {
        if (!load_now(t)) return -1;
        const int result = fp_main_write(name, value, slot, t.table);
        return save_table(t) ? result : -1;
    }
    load_once(t);
    if (!t.state->writable) return -1;
    std::int32_t before = 0;
    const bool had = fp_main_read(name, &before, slot, t.table) == 0;
    const int result = fp_main_write(name, value, slot, t.table);
    if (result == 0 && (!had || before != value)) t.state->changed = true;
    return result;
}

store_request::store_request() {
    in_request = true;
    touched_count = 0;
}

store_request::~store_request() {
    for (std::size_t i = 0; i < touched_count; ++i) {
        const i4_table_file& t = *touched[i];
        if (t.state->loaded && t.state->writable && t.state->changed) save_table(t);
        *t.state = i4_table_state{};
    }
    touched_count = 0;
    in_request = false;
}
