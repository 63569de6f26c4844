// A fresh temporary directory as the process's working directory for the life of the object,
// so that code opening files by relative name works on files the test can see.
#pragma once

#include <string>
#include <string_view>

#include "tests/support/files.h"

namespace test_support {

class scoped_workdir {
  public:
    scoped_workdir();
    ~scoped_workdir();
    scoped_workdir(const scoped_workdir&) = delete;
    scoped_workdir& operator=(const scoped_workdir&) = delete;

    const std::string& path() const { return dir_.path(); }
    std::string file(std::string_view name) const { return dir_.file(name); }

  private:
    temp_dir dir_;
    std::string previous_;
};

}  // namespace test_support
