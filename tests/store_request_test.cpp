// Requests of the server against the store, in process through the dispatcher: each table is
// loaded at most once per request and saved at most once, at its end, only when the request
// changed it; the file holds all of a request's changes or none.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ifc/ifc_net.h"
#include "server/ether_parse.h"
#include "tests/support/capture.h"
#include "tests/support/files.h"
#include "tests/support/io_faults.h"
#include "tests/support/settings_model.h"
#include "tests/support/workdir.h"
#include "valve/vfp_ifc.h"

namespace {

using test_support::io_call;
using test_support::read_file;

// Runs the write command name with argument as the server does after a payload arrived.
void put(const std::string& name, const std::string& argument) {
    std::vector<char> payload(name.begin(), name.end());
    payload.push_back('\0');
    payload.insert(payload.end(), argument.begin(), argument.end());
    payload.push_back('\0');  // the byte after the payload belongs to the server
    ether_put_data(payload.data(), static_cast<int>(payload.size()) - 1);
}

// Runs the read command name as the server does for a GET header (the name filled with
// spaces to the 20 characters of its field).
std::string get(const char* name) {
    static char buf[256001];
    std::string field(name);
    field.resize(20, ' ');
    const int n = ether_get_data(field.c_str(), buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// A valve line setting every key of the line to base, base + 1, ...
std::string valve_line(std::int32_t base, std::size_t tokens = 45) {
    const auto& keys = test_support::valve_keys();
    test_support::token_list line;
    for (std::size_t i = 0; i < tokens; ++i)
        line.emplace_back(keys[i % keys.size()], base + static_cast<std::int32_t>(i));
    return test_support::token_line(line);
}

struct file_identity {
    ino_t inode = 0;
    timespec modified{};
    std::string bytes;
    bool operator==(const file_identity& o) const {
        return inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec && bytes == o.bytes;
    }
};

file_identity identity(const char* path) {
    struct stat st {};
    file_identity id;
    if (::stat(path, &st) == 0) {
        id.inode = st.st_ino;
        id.modified = st.st_mtim;
    }
    id.bytes = read_file(path).value_or("<missing>");
    return id;
}

class StoreRequest : public testing::Test {
  protected:
    void SetUp() override {
        // Both files exist and hold the defaults.
        get("IFC_get_stat");
        get("IFC_get_on_off_1");
    }
    test_support::scoped_workdir dir;
};

struct put_case {
    const char* name;
    std::string command;
    std::string argument;
    int fsyncs;  // file and directory for a save; none when nothing changed
};

void PrintTo(const put_case& c, std::ostream* out) {
    *out << c.name;
}

class FlushesPerPut : public StoreRequest, public testing::WithParamInterface<put_case> {};

TEST_P(FlushesPerPut, TwoForAPutThatChangesSomethingWhateverItsLengthNoneOtherwise) {
    const put_case& c = GetParam();
    const file_identity ifc_before = identity(ifc_net::settings_file);
    const file_identity vfp_before = identity(vfp_ifc::settings_file);
    test_support::io_faults calls;
    put(c.command, c.argument);
    EXPECT_EQ(calls.count(io_call::fsync), c.fsyncs);
    EXPECT_EQ(calls.count(io_call::rename), c.fsyncs / 2);
    EXPECT_LE(calls.count(io_call::read), 1);  // one load at most
    if (c.fsyncs == 0) {
        EXPECT_EQ(calls.count(io_call::write), 0);
        EXPECT_TRUE(identity(ifc_net::settings_file) == ifc_before);
        EXPECT_TRUE(identity(vfp_ifc::settings_file) == vfp_before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, FlushesPerPut,
    testing::Values(put_case{"FullValveLine", "IFC_set_on_off_1", valve_line(10), 2},
                    put_case{"FiveHundredTokenLine", "IFC_set_on_off_2", valve_line(1, 500), 2},
                    put_case{"OneValveKey", "IFC_set_on_off_3", "main_on:7 ", 2},
                    put_case{"TargetPair", "IFC_set_to_tw_4", "to:95 tw:245 ", 2},
                    put_case{"Status", "IFC_set_stat", "color:2 mode:1 totw_sw:0 ", 2},
                    put_case{"SelectOne", "IFC_set_select_item", "sub5:1", 2},
                    put_case{"ValveLineOfTheStoredValues", "IFC_set_on_off_1",
                             "pin_on:70 abs_on:215 main_on:90 ", 0},
                    put_case{"TargetsOfTheStoredValues", "IFC_set_to_tw_2", "to:90 tw:240 ", 0},
                    put_case{"StatusOfTheStoredValues", "IFC_set_stat", "color:1 mode:0 totw_sw:0 ",
                             0},
                    put_case{"SelectionAlreadyOff", "IFC_set_select_item", "all:0", 0},
                    put_case{"NoKnownKey", "IFC_set_on_off_1", "nothing:5 ", 0},
                    put_case{"UnusableArgument", "IFC_set_to_tw_1", "to:95", 0}),
    [](const testing::TestParamInfo<put_case>& info) { return std::string(info.param.name); });

TEST_F(StoreRequest, AGetLoadsEachTableOnceAndWritesNothing) {
    for (const char* name : {"IFC_get_select_item", "IFC_get_on_off_6", "IFC_get_stat"}) {
        SCOPED_TRACE(name);
        test_support::io_faults calls;
        EXPECT_FALSE(get(name).empty());
        EXPECT_EQ(calls.count(io_call::open), 1);
        EXPECT_EQ(calls.count(io_call::read), 1);
        EXPECT_EQ(calls.count(io_call::write), 0);
    }
}

TEST_F(StoreRequest, AMissingFileIsWrittenWithTheDefaultsByTheEndOfTheRequest) {
    ASSERT_EQ(::unlink(vfp_ifc::settings_file), 0);
    test_support::io_faults calls;
    get("IFC_get_on_off_2");
    EXPECT_EQ(calls.count(io_call::fsync), 2);
    EXPECT_EQ(read_file(vfp_ifc::settings_file), test_support::settings_model().valve_image());
}

TEST_F(StoreRequest, EveryRequestSeesTheFileAsItIsOnDisk) {
    test_support::settings_model edited;
    edited.apply({test_support::settings_file::interface, "Tot", 3, 123});
    test_support::write_file(dir.file(ifc_net::settings_file), edited.interface_image());
    EXPECT_EQ(get("IFC_get_Tot_Twt_3"), "to:123 tw:240 ");
    put("IFC_set_to_tw_3", "to:124 tw:241 ");
    edited.apply({test_support::settings_file::interface, "Tot", 3, 124});
    edited.apply({test_support::settings_file::interface, "Twt", 3, 241});
    EXPECT_EQ(read_file(ifc_net::settings_file), edited.interface_image());
}

TEST_F(StoreRequest, AFailedSaveKeepsTheOldFileAndSaysSoOnStandardError) {
    const file_identity before = identity(vfp_ifc::settings_file);
    test_support::io_faults calls;
    calls.fail(io_call::rename, 1, EIO);
    const std::string diagnostics =
        test_support::capture_stderr([] { put("IFC_set_on_off_1", valve_line(3)); });
    EXPECT_EQ(diagnostics,
              std::string("server: valve_fp.set: cannot save: ") + std::strerror(EIO) + "\n");
    EXPECT_TRUE(identity(vfp_ifc::settings_file) == before);
    EXPECT_EQ(calls.count(io_call::unlink), 1);  // its temporary file is gone
}

}  // namespace
