// Random full-size settings files, loaded through the accessors, with every record operation
// run on them. Damaged contents (no terminator, names without a NUL, any type) may make a
// lookup fail, but the results must agree with a plain model of the lookup, only the addressed
// slot may change, and under the sanitizers nothing may be read or written outside the table.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib/i4_record.h"
#include "tests/support/files.h"
#include "tests/support/store_tables.h"
#include "tests/support/workdir.h"

namespace {

using test_support::read_file;
using test_support::write_file;

constexpr std::size_t record_size = 80;

std::int32_t int32_in(const std::string& image, std::size_t offset) {
    std::int32_t v;
    std::memcpy(&v, image.data() + offset, sizeof v);
    return v;
}

// The model of a lookup: the first record before a type-0 record (or the end) whose name
// field holds exactly name followed by a NUL. -1 when there is none.
int model_find(const std::string& image, const std::string& name) {
    for (std::size_t i = 0; i < image.size() / record_size; ++i) {
        const std::size_t at = i * record_size;
        if (int32_in(image, at) == 0) return -1;
        const std::string field = image.substr(at + 4, 28);
        if (name.size() < 28 &&
            field.compare(0, name.size() + 1, name.c_str(), name.size() + 1) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool model_usable(const std::string& image, int record) {
    const std::int32_t type = int32_in(image, record * record_size);
    return type >= 1 && type <= 5;
}

class random_images {
  public:
    explicit random_images(unsigned seed) : rng_(seed) {}

    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    std::int32_t any_int32() {
        return static_cast<std::int32_t>(std::uniform_int_distribution<std::uint32_t>()(rng_));
    }

    // A full-size image mixing good records, records with odd types, names without a NUL and
    // plain random bytes; often without any terminator.
    std::string image(const std::string& defaults) {
        std::string out = defaults;
        const std::size_t records = defaults.size() / record_size;
        for (std::size_t i = 0; i < records; ++i) {
            char* r = out.data() + i * record_size;
            switch (below(6)) {
                case 0:  // random bytes throughout
                    for (std::size_t k = 0; k < record_size; ++k)
                        r[k] = static_cast<char>(below(256));
                    break;
                case 1:  // a name filling all 28 bytes
                    for (int k = 0; k < 28; ++k)
                        r[4 + k] = static_cast<char>('A' + below(3));
                    break;
                case 2: {  // an odd type
                    const std::int32_t types[] = {0, 6, -1, 5, 2, any_int32()};
                    const std::int32_t type = types[below(6)];
                    std::memcpy(r, &type, 4);
                    break;
                }
                case 3:  // random slot values, min and max
                    for (std::size_t k = 32; k < 68; ++k)
                        r[k] = static_cast<char>(below(256));
                    break;
                default:  // left as it was
                    break;
            }
            if (int32_in(out, i * record_size) == 0 && below(4) != 0) {
                const std::int32_t type = 1;  // mostly keep the scan going past this record
                std::memcpy(r, &type, 4);
            }
        }
        return out;
    }

    // Names to look up: names of the image itself (good or cut at 27 bytes), default names,
    // near misses and long texts.
    std::string name(const std::string& image, const std::string& defaults) {
        const std::size_t records = image.size() / record_size;
        const std::size_t at = below(static_cast<int>(records)) * record_size + 4;
        switch (below(6)) {
            case 0:
                return std::string(image.c_str() + at, strnlen(image.c_str() + at, 27));
            case 1:
                return std::string(image.data() + at, 28);  // may hold NULs: cut at the first
            case 2:
                return std::string(defaults.c_str() + at, strnlen(defaults.c_str() + at, 27));
            case 3:
                return std::string(below(60), static_cast<char>('A' + below(3)));
            case 4: {
                std::string n(defaults.c_str() + at, strnlen(defaults.c_str() + at, 27));
                if (!n.empty()) n.back() ^= 0x20;  // other case of the last letter
                return n;
            }
            default:
                return "";
        }
    }

    int slot() { return below(10) - 1; }  // -1..8

  private:
    std::mt19937 rng_;
};

class RandomImages : public ::testing::TestWithParam<test_support::settings_table> {
  protected:
    test_support::scoped_workdir dir;
};

TEST_P(RandomImages, EveryOperationStaysInsideTheTableAndAgreesWithTheModel) {
    const auto& t = GetParam();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    random_images random(seed);
    const std::string path = dir.file(t.file);
    const std::size_t records = t.defaults.size() / record_size;
    int found_reads = 0;  // reads that found a usable record: the model is exercised

    for (int round = 0; round < 150; ++round) {
        std::string image = random.image(t.defaults);
        write_file(path, image);

        // The accessors on the file.
        for (int op = 0; op < 12; ++op) {
            const std::string name = random.name(image, t.defaults);
            const int slot = random.slot();
            const int found = model_find(image, name.c_str());
            const bool usable = found >= 0 && model_usable(image, found) && slot >= 0 && slot <= 6;
            std::int32_t v = 0x5a5a5a5a;
            ASSERT_EQ(t.read(name.c_str(), &v, slot), usable ? 0 : -1) << "round " << round;
            if (usable) {
                ++found_reads;
                ASSERT_EQ(v, int32_in(image, found * record_size + 32 + 4 * slot));
            } else {
                ASSERT_EQ(v, 0x5a5a5a5a);
            }
            if (op % 4 == 0) {
                const std::int32_t value = random.any_int32();
                ASSERT_EQ(t.write(name.c_str(), value, slot), usable ? 0 : -1);
                if (usable) {
                    std::memcpy(image.data() + found * record_size + 32 + 4 * slot, &value, 4);
                }
            }
            ASSERT_EQ(read_file(path), image) << "round " << round;
        }

        // The record operations on a heap block of exactly the table's size.
        std::vector<i4_item> table(records);
        std::memcpy(table.data(), image.data(), image.size());
        for (int op = 0; op < 12; ++op) {
            const std::string name = random.name(image, t.defaults);
            const int found = model_find(image, name.c_str());
            const int slot = random.slot();
            const bool usable = found >= 0 && model_usable(image, found) && slot >= 0 && slot <= 6;
            const std::int32_t value = random.any_int32();
            switch (op % 4) {
                case 0:
                    EXPECT_EQ(fp_main_compare(name.c_str(), value, slot, table),
                              usable && table[found].value[slot] == value ? 0 : -1);
                    break;
                case 1:
                    change_i4_min_max(table, name.c_str(), value, random.any_int32());
                    break;
                case 2:
                    change_i4_type(table, name.c_str(), random.below(8) - 1);
                    break;
                default:
                    EXPECT_EQ(fp_main_write(name.c_str(), value, slot, table), usable ? 0 : -1);
                    break;
            }
            // Only the found record may have changed, and never any name.
            const std::string after(reinterpret_cast<const char*>(table.data()), image.size());
            for (std::size_t i = 0; i < records; ++i) {
                const std::size_t at = i * record_size;
                if (static_cast<int>(i) != found) {
                    ASSERT_EQ(after.compare(at, record_size, image, at, record_size), 0)
                        << "record " << i << " changed, round " << round;
                }
                ASSERT_EQ(after.compare(at + 4, 28, image, at + 4, 28), 0);
            }
            image = after;
        }
    }
    EXPECT_GT(found_reads, 100);
}

INSTANTIATE_TEST_SUITE_P(BothTables, RandomImages,
                         ::testing::Values(test_support::interface_table(),
                                           test_support::valve_table()),
                         [](const auto& info) { return std::string(info.param.label); });

}  // namespace
