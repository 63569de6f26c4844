#include "valve/com_ifc.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "protocol/protocol.h"

namespace {

// The locations live in one global table: each test starts from the initial values.
class ValveLoc : public ::testing::Test {
  protected:
    void SetUp() override { saved_ = sub; }
    void TearDown() override { sub = saved_; }

    std::string answer() {
        static std::array<char, protocol::max_payload + 1> buf;
        buf.fill('#');
        const int len = IFC_get_valve_loc(buf.data());
        EXPECT_EQ(buf[static_cast<std::size_t>(len)], '\0') << "a NUL follows the answer";
        return std::string(buf.data(), static_cast<std::size_t>(len));
    }

  private:
    std::array<std::int16_t, sub_group_count> saved_{};
};

const std::string initial_answer =
    "sub1:210 sub2:450 sub3:690 sub4:930 sub5:1170 sub6:1410 sub7:1650 sub8:0 sub9:0 "
    "sub10:0 sub11:0 sub12:0 sub13:0 sub14:0 sub15:0 sub16:0 sub17:0 sub18:0 sub19:0 "
    "sub20:0 ";

TEST_F(ValveLoc, InitialLocations) {
    const std::string text = answer();
    EXPECT_EQ(text, initial_answer);
    EXPECT_EQ(text.size(), 168u);
}

TEST_F(ValveLoc, SetChangesOnlyTheNamedGroup) {
    IFC_set_valve_loc(3, -5);
    IFC_set_valve_loc(20, 100);
    IFC_set_valve_loc(1, INT16_MIN);
    std::string want = initial_answer;
    want.replace(want.find("sub3:690"), 8, "sub3:-5");
    want.replace(want.find("sub20:0"), 7, "sub20:100");
    want.replace(0, 8, "sub1:-32768");
    EXPECT_EQ(answer(), want);
}

TEST_F(ValveLoc, GroupsOutside1To20ChangeNothing) {
    for (const std::int16_t group : {0, -1, 21, INT16_MIN, INT16_MAX}) {
        IFC_set_valve_loc(group, 999);
    }
    EXPECT_EQ(answer(), initial_answer);
}

}  // namespace
