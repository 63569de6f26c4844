#include "tests/support/workdir.h"

#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace test_support {

scoped_workdir::scoped_workdir() : previous_(std::filesystem::current_path().string()) {
    if (::chdir(dir_.path().c_str()) != 0) throw std::runtime_error("chdir failed");
}

scoped_workdir::~scoped_workdir() {
    (void)::chdir(previous_.c_str());
}

}  // namespace test_support
