// The two settings tables as test parameters: file name, default image, accessors, and one
// ordinary record to probe.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace test_support {

// The bytes of an image held in memory.
template <class Image>
std::string bytes_of(const Image& image) {
    return std::string(reinterpret_cast<const char*>(image.data()), sizeof(image));
}

struct settings_table {
    const char* label;
    const char* file;
    std::string defaults;
    int (*read)(const char* name, std::int32_t* out, int slot);
    int (*write)(const char* name, std::int32_t value, int slot);
    const char* probe;  // an ordinary record of the table
    int probe_record;   // its index

    // The probe's default value in slot.
    std::int32_t probe_default(int slot) const;
    // The default image with the probe's slot holding value.
    std::string image_with(int slot, std::int32_t value) const;
};

settings_table interface_table();
settings_table valve_table();

inline void PrintTo(const settings_table& t, std::ostream* out) {
    *out << t.label;
}

}  // namespace test_support
