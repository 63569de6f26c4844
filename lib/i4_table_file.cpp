#include "lib/i4_table_file.h"

#include <algorithm>
#include <cstddef>

#include "lib/sim_main.h"

namespace {

int save_table(const i4_table_file& t) {
    const auto image = std::as_bytes(t.table);
    return hfp_save_data2(t.path, image.data(), static_cast<int>(image.size()));
}

}  // namespace

void i4_table_reset(const i4_table_file& t) {
    std::fill(t.table.begin(), t.table.end(), i4_item{});
    std::copy_n(t.defaults.begin(), std::min(t.defaults.size(), t.table.size()), t.table.begin());
}

bool i4_table_load(const i4_table_file& t) {
    switch (load_file_image(t.path, std::as_writable_bytes(t.table)).status) {
        case image_status::complete:
            return true;
        case image_status::missing:
        case image_status::short_file:
            i4_table_reset(t);
            save_table(t);  // the defaults stand for this access even if they cannot be stored
            return true;
        default:
            i4_table_reset(t);
            return false;
    }
}

int i4_table_read(const i4_table_file& t, const char* name, std::int32_t* out, int slot) {
    i4_table_load(t);
    return fp_main_read(name, out, slot, t.table);
}

int i4_table_write(const i4_table_file& t, const char* name, std::int32_t value, int slot) {
    if (!i4_table_load(t)) return -1;
    const int result = fp_main_write(name, value, slot, t.table);
    const int saved = save_table(t);
    return saved == 0 ? result : -1;
}
