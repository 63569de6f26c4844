// The settings files under the accessors: created by the first access, reset when short,
// used when long and cut at the next save, reloaded at every access; and the file
// primitives themselves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "ifc/ifc_net.h"
#include "lib/sim_main.h"
#include "tests/support/files.h"
#include "tests/support/workdir.h"
#include "valve/vfp_ifc.h"

namespace {

using test_support::int32_at;
using test_support::read_file;
using test_support::slot_offset;
using test_support::write_file;

template <class Image>
std::string bytes_of(const Image& image) {
    return std::string(reinterpret_cast<const char*>(image.data()), sizeof(image));
}

void put_int32(std::string& bytes, std::size_t offset, std::int32_t v) {
    std::memcpy(bytes.data() + offset, &v, sizeof v);  // the host is little-endian
}

// The accessors of one table, so that each behaviour is checked on both tables.
struct table_case {
    const char* label;
    const char* file;
    std::string defaults;
    int (*read)(const char*, std::int32_t*, int);
    int (*write)(const char*, std::int32_t, int);
    const char* name;  // a record of the table
    int record;        // its index
    std::int32_t default_value;
};

class SettingsFile : public ::testing::TestWithParam<table_case> {
  protected:
    test_support::scoped_workdir dir;
    std::string path() const { return dir.file(GetParam().file); }
    std::string contents() const { return read_file(path()).value_or("<missing>"); }
    std::int32_t read_value(int slot = 1) const {
        std::int32_t v = -12345;
        EXPECT_EQ(GetParam().read(GetParam().name, &v, slot), 0);
        return v;
    }
};

TEST_P(SettingsFile, TheFirstAccessCreatesTheFileEvenForARead) {
    ASSERT_FALSE(test_support::file_exists(path()));
    EXPECT_EQ(read_value(), GetParam().default_value);
    EXPECT_EQ(contents(), GetParam().defaults);
}

TEST_P(SettingsFile, AWriteStoresTheValueAtTheRecordsOffset) {
    const auto& t = GetParam();
    EXPECT_EQ(t.write(t.name, 123, 4), 0);
    std::string expected = t.defaults;
    put_int32(expected, slot_offset(t.record, 4), 123);
    EXPECT_EQ(contents(), expected);
    EXPECT_EQ(read_value(4), 123);
}

TEST_P(SettingsFile, AShortFileIsReplacedByTheDefaults) {
    const auto& t = GetParam();
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, t.defaults.size() - 1}) {
        SCOPED_TRACE(size);
        std::string changed = t.defaults;
        put_int32(changed, slot_offset(t.record, 1), 77);
        write_file(path(), changed.substr(0, size));
        EXPECT_EQ(read_value(), t.default_value);
        EXPECT_EQ(contents(), t.defaults);
    }
}

TEST_P(SettingsFile, ALongerFileIsUsedAndCutAtTheNextWrite) {
    const auto& t = GetParam();
    std::string longer = t.defaults + "X";
    put_int32(longer, slot_offset(t.record, 1), 77);
    write_file(path(), longer);
    EXPECT_EQ(read_value(), 77);
    EXPECT_EQ(contents(), longer);  // a read leaves it alone
    EXPECT_EQ(t.write(t.name, 78, 2), 0);
    std::string expected = longer.substr(0, t.defaults.size());
    put_int32(expected, slot_offset(t.record, 2), 78);
    EXPECT_EQ(contents(), expected);
}

TEST_P(SettingsFile, AnOutsideEditOrDeletionIsSeenAtTheNextAccess) {
    const auto& t = GetParam();
    EXPECT_EQ(t.write(t.name, 55, 1), 0);
    std::string edited = contents();
    put_int32(edited, slot_offset(t.record, 1), 66);
    write_file(path(), edited);
    EXPECT_EQ(read_value(), 66);

    ASSERT_EQ(std::remove(path().c_str()), 0);
    EXPECT_EQ(read_value(), t.default_value);  // earlier changes are gone with the file
    EXPECT_EQ(contents(), t.defaults);
}

TEST_P(SettingsFile, AReadOfAGoodFileLeavesItUntouched) {
    const auto& t = GetParam();
    EXPECT_EQ(t.write(t.name, 9, 1), 0);
    struct stat before {};
    ASSERT_EQ(::stat(path().c_str(), &before), 0);
    EXPECT_EQ(read_value(), 9);
    struct stat after {};
    ASSERT_EQ(::stat(path().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_ctim.tv_nsec, after.st_ctim.tv_nsec);
    EXPECT_EQ(before.st_ctim.tv_sec, after.st_ctim.tv_sec);
}

TEST_P(SettingsFile, AFailedWriteReturnsMinusOneAndRewritesTheSameBytes) {
    const auto& t = GetParam();
    EXPECT_EQ(t.write(t.name, 31, 3), 0);
    const std::string before = contents();
    EXPECT_EQ(t.write("No_such_record", 1, 1), -1);
    EXPECT_EQ(t.write(t.name, 1, 7), -1);
    EXPECT_EQ(t.write(t.name, 1, -1), -1);
    EXPECT_EQ(contents(), before);
    std::int32_t v = -5;
    EXPECT_EQ(t.read(t.name, &v, 7), -1);
    EXPECT_EQ(t.read("No_such_record", &v, 1), -1);
    EXPECT_EQ(v, -5);
}

TEST_P(SettingsFile, SavesLeaveNoTemporaryFileBehind) {
    const auto& t = GetParam();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(t.write(t.name, i, 1), 0);
    EXPECT_FALSE(test_support::file_exists(path() + ".tmp"));
}

TEST_P(SettingsFile, ANewFileHas0644LessTheUmaskAndAReplacedFileKeepsItsBits) {
    const auto& t = GetParam();
    const mode_t old_mask = ::umask(027);
    EXPECT_EQ(read_value(), t.default_value);
    struct stat st {};
    ASSERT_EQ(::stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ::umask(old_mask);

    ASSERT_EQ(::chmod(path().c_str(), 0604), 0);
    EXPECT_EQ(t.write(t.name, 5, 1), 0);
    ASSERT_EQ(::stat(path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

INSTANTIATE_TEST_SUITE_P(
    BothTables, SettingsFile,
    ::testing::Values(table_case{"interface", "ifc_set.set", bytes_of(ifc_net::i4_init),
                                 Ifc_SetRead, Ifc_SetWrite, "Twt", 1, 240},
                      table_case{"valve", "valve_fp.set", bytes_of(vfp_ifc::i4_init), VfpRead,
                                 VfpWrite, "VAL_sub8_on", 29, 220}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TableReset, ResetAndLoadWorkOnTheLiveTable) {
    test_support::scoped_workdir dir;
    std::string changed = bytes_of(ifc_net::i4_init);
    put_int32(changed, slot_offset(0, 2), 101);
    write_file(dir.file("ifc_set.set"), changed);
    i_ifc();
    I_ifc();  // the table in memory only: the next access loads the file again
    std::int32_t v = 0;
    EXPECT_EQ(Ifc_SetRead("Tot", &v, 2), 0);
    EXPECT_EQ(v, 101);
    I_vfp();
    i_vfp();
    EXPECT_EQ(read_file(dir.file("valve_fp.set")), bytes_of(vfp_ifc::i4_init));
}

// The primitives on their own.
class FilePrimitives : public ::testing::Test {
  protected:
    test_support::scoped_workdir dir;
};

TEST_F(FilePrimitives, LoadReadsAtMostSizeBytesAndReportsAMissingFileAsZero) {
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(hfp_load_data2("absent", buf, 8), 0);
    EXPECT_EQ(std::string(buf, 8), "########");
    write_file(dir.file("f"), "abcdefghij");
    EXPECT_EQ(hfp_load_data2("f", buf, 8), 8);
    EXPECT_EQ(std::string(buf, 8), "abcdefgh");
    write_file(dir.file("g"), "xyz");
    EXPECT_EQ(hfp_load_data2("g", buf, 8), 3);
    EXPECT_EQ(hfp_load_data2(".", buf, 8), -1);  // a directory opens but cannot be read
    EXPECT_EQ(hfp_load_data2("f", buf, -1), -1);
}

TEST_F(FilePrimitives, SaveReplacesTheWholeFile) {
    EXPECT_EQ(hfp_save_data2("f", "long contents", 13), 0);
    EXPECT_EQ(hfp_save_data2("f", "short", 5), 0);
    EXPECT_EQ(read_file(dir.file("f")), "short");
    EXPECT_EQ(hfp_save_data2(dir.file("abs").c_str(), "abc", 3), 0);  // a path with a directory
    EXPECT_EQ(read_file(dir.file("abs")), "abc");
    EXPECT_EQ(hfp_save_data2("no_dir/f", "abc", 3), -1);
    EXPECT_EQ(hfp_save_data2("f", "abc", -1), -1);
    EXPECT_EQ(read_file(dir.file("f")), "short");
}

TEST_F(FilePrimitives, AppendLogAppendsToCgiLog) {
    append_log("one\n", 4);
    append_log("two\n", 4);
    append_log("ignored", 0);
    EXPECT_EQ(read_file(dir.file("cgi.log")), "one\ntwo\n");
}

}  // namespace
