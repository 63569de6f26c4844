// Readable names for parameterised cases: every case struct has a "name" member made of
// letters, digits and underscores, used by ctest's test list ("Suite/Test/name") and by
// gtest's own output (through a PrintTo beside the struct) instead of a memory dump.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace test_support {

// The 4th argument of INSTANTIATE_TEST_SUITE_P.
struct case_name {
    template <class Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const {
        return std::string(info.param.name);
    }
};

}  // namespace test_support
