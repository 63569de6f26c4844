// Record operations on small hand-made tables: lookup rules, type checks, slot limits and the
// clamping of change_i4_min_max.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lib/i4_record.h"

namespace {

i4_item record(std::int32_t type, const char* name, std::array<std::int32_t, 7> slots = {},
               std::int32_t min = 0, std::int32_t max = 359) {
    i4_item item{};
    item.type = type;
    std::strncpy(item.name, name, sizeof item.name);
    std::memcpy(item.value, slots.data(), sizeof item.value);
    item.min = min;
    item.max = max;
    std::memcpy(item.group, "g1", 2);
    return item;
}

// A small table: two usable records, one of type 6, a duplicate name, the terminator and a
// record after it.
class Records : public ::testing::Test {
  protected:
    std::array<i4_item, 7> table{
        record(1, "VAL_main_on", {0, 90, 91, 92, 93, 94, 95}),
        record(3, "Tot", {0, 10, 20, 30, 40, 50, 60}, 50, 150),
        record(6, "Broken", {0, 1, 2, 3, 4, 5, 6}),
        record(2, "Tot", {0, 99, 99, 99, 99, 99, 99}),
        i4_item{},
        record(1, "Hidden", {0, 7, 7, 7, 7, 7, 7}),
        i4_item{},
    };

    bool unchanged_since(const decltype(table)& before) const {
        return std::memcmp(table.data(), before.data(), sizeof table) == 0;
    }
};

TEST_F(Records, ReadWriteCompareFindTheRecordByExactName) {
    std::int32_t v = -1;
    EXPECT_EQ(fp_main_read("VAL_main_on", &v, 3, table), 0);
    EXPECT_EQ(v, 92);
    EXPECT_EQ(fp_main_write("VAL_main_on", 500, 3, table), 0);  // above max: stored anyway
    EXPECT_EQ(fp_main_read("VAL_main_on", &v, 3, table), 0);
    EXPECT_EQ(v, 500);
    EXPECT_EQ(fp_main_compare("VAL_main_on", 500, 3, table), 0);
    EXPECT_EQ(fp_main_compare("VAL_main_on", 92, 3, table), -1);
    EXPECT_EQ(fp_main_compare("Missing", 0, 3, table), -1);
}

TEST_F(Records, SlotZeroIsAnOrdinarySlot) {
    EXPECT_EQ(fp_main_write("Tot", -7, 0, table), 0);
    std::int32_t v = 0;
    EXPECT_EQ(fp_main_read("Tot", &v, 0, table), 0);
    EXPECT_EQ(v, -7);
}

TEST_F(Records, NamesThatAreNotExactlyARecordNameAreNotFound) {
    const auto before = table;
    for (const char* name : {"val_main_on", "VAL_MAIN_ON", "VAL_main", "VAL_main_on_", "",
                             "VAL_main_on ", "Hidden", "tot"}) {
        SCOPED_TRACE(name);
        std::int32_t v = 12345;
        EXPECT_EQ(fp_main_read(name, &v, 1, table), -1);
        EXPECT_EQ(v, 12345);
        EXPECT_EQ(fp_main_write(name, 1, 1, table), -1);
        EXPECT_EQ(fp_main_compare(name, 7, 1, table), -1);
        change_i4_min_max(table, name, 0, 1);
        change_i4_type(table, name, 2);
        EXPECT_TRUE(unchanged_since(before));
    }
}

TEST_F(Records, TheFirstOfTwoEqualNamesShadowsTheSecond) {
    std::int32_t v = 0;
    EXPECT_EQ(fp_main_read("Tot", &v, 1, table), 0);
    EXPECT_EQ(v, 10);
    EXPECT_EQ(fp_main_write("Tot", 11, 1, table), 0);
    EXPECT_EQ(table[1].value[1], 11);
    EXPECT_EQ(table[3].value[1], 99);
}

TEST_F(Records, SlotsOutsideZeroToSixAreRejected) {
    const auto before = table;
    for (int slot : {-1, 7, 100, -2147483647 - 1}) {
        SCOPED_TRACE(slot);
        std::int32_t v = 12345;
        EXPECT_EQ(fp_main_read("Tot", &v, slot, table), -1);
        EXPECT_EQ(v, 12345);
        EXPECT_EQ(fp_main_write("Tot", 1, slot, table), -1);
        EXPECT_EQ(fp_main_compare("Tot", 0, slot, table), -1);
    }
    EXPECT_TRUE(unchanged_since(before));
}

TEST_F(Records, AnUnusableTypeIsFoundButNeitherReadNorWritten) {
    const auto before = table;
    for (std::int32_t type : {6, -1, 100}) {
        SCOPED_TRACE(type);
        table[2].type = type;
        std::int32_t v = 12345;
        EXPECT_EQ(fp_main_read("Broken", &v, 1, table), -1);
        EXPECT_EQ(v, 12345);
        EXPECT_EQ(fp_main_write("Broken", 9, 1, table), -1);
        EXPECT_EQ(fp_main_compare("Broken", 1, 1, table), -1);
    }
    table[2].type = 6;
    EXPECT_TRUE(unchanged_since(before));

    change_i4_min_max(table, "Broken", 2, 4);  // no type check here
    EXPECT_EQ(table[2].min, 2);
    EXPECT_EQ(table[2].value[1], 2);

    change_i4_type(table, "Broken", 3);
    std::int32_t v = 0;
    EXPECT_EQ(fp_main_read("Broken", &v, 6, table), 0);
    EXPECT_EQ(v, 4);
}

TEST_F(Records, ChangeTypeAcceptsOnlyOneToFive) {
    const auto before = table;
    for (std::int32_t type : {0, 6, -1}) {
        change_i4_type(table, "VAL_main_on", type);
        change_i4_type(table, "Broken", type);
    }
    EXPECT_TRUE(unchanged_since(before));
    change_i4_type(table, "VAL_main_on", 5);
    EXPECT_EQ(table[0].type, 5);
}

TEST_F(Records, MinMaxClampsSlotsOneToSixAndNeverSlotZero) {
    struct clamp_case {
        std::int32_t min, max;
        std::array<std::int32_t, 7> slots, expected;
    };
    const clamp_case cases[] = {
        {0, 359, {-5, -5, 10, 400, 359, 0, 360}, {-5, 0, 10, 359, 359, 0, 359}},
        {10, 5, {-5, -5, 10, 400, 359, 0, 360}, {-5, 5, 5, 5, 5, 5, 5}},
        {-2147483647 - 1, 2147483647, {1, -9, 2, 3, 4, 5, 6}, {1, -9, 2, 3, 4, 5, 6}},
        {-10, 0, {500, 1, -11, -10, 0, 5, -3}, {500, 0, -10, -10, 0, 0, -3}},
    };
    for (const auto& c : cases) {
        table[0] = record(1, "VAL_main_on", c.slots, 1, 2);
        change_i4_min_max(table, "VAL_main_on", c.min, c.max);
        EXPECT_EQ(table[0].min, c.min);
        EXPECT_EQ(table[0].max, c.max);
        for (int slot = 0; slot < 7; ++slot) {
            EXPECT_EQ(table[0].value[slot], c.expected[slot]) << "slot " << slot;
        }
    }
}

TEST(RecordTables, ATableThatStartsWithItsTerminatorHasNoRecords) {
    std::array<i4_item, 3> table{i4_item{}, record(1, "Tot", {0, 1, 2, 3, 4, 5, 6}), i4_item{}};
    const auto before = table;
    std::int32_t v = 12345;
    EXPECT_EQ(fp_main_read("Tot", &v, 1, table), -1);
    EXPECT_EQ(fp_main_write("Tot", 3, 1, table), -1);
    EXPECT_EQ(fp_main_compare("Tot", 1, 1, table), -1);
    change_i4_min_max(table, "Tot", 5, 5);
    change_i4_type(table, "Tot", 2);
    EXPECT_EQ(v, 12345);
    EXPECT_EQ(std::memcmp(table.data(), before.data(), sizeof table), 0);
}

// Damaged tables as a full-size file can hold them: no terminator, and name fields without a
// NUL. The table lives in a heap block of exactly its size, so that the sanitizers see any
// access past it.
TEST(RecordTables, DamagedTablesAreNeverReadPastTheirCapacityOrNameField) {
    std::vector<i4_item> table(4);
    for (auto& item : table) {
        item = record(1, "", {0, 1, 2, 3, 4, 5, 6});
        std::memset(item.name, 'A', sizeof item.name);  // 28 letters, no NUL
    }
    table[1].name[27] = '\0';  // 27 letters: a valid name
    const std::string a27(27, 'A');
    const std::string a28(28, 'A');
    const std::string a40(40, 'A');

    std::int32_t v = 0;
    EXPECT_EQ(fp_main_read(a27.c_str(), &v, 2, table), 0);
    EXPECT_EQ(v, 2);
    for (const std::string& name : {a28, a40, std::string("A"), std::string("B")}) {
        SCOPED_TRACE(name.size());
        EXPECT_EQ(fp_main_read(name.c_str(), &v, 1, table), -1);
        EXPECT_EQ(fp_main_write(name.c_str(), 1, 1, table), -1);
        EXPECT_EQ(fp_main_compare(name.c_str(), 1, 1, table), -1);
        change_i4_min_max(table, name.c_str(), 0, 0);
        change_i4_type(table, name.c_str(), 2);
    }
    for (const auto& item : table)
        EXPECT_EQ(item.value[1], 1);
}

}  // namespace
