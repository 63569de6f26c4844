// A small file system that a full-disk test can fill: a tmpfs (64 KiB unless asked for more)
// mounted on a fresh temporary directory, in a mount namespace of this test process alone, so
// that nothing of it outlives the process or is seen outside it (a server process forked later
// sees it too). It can be made read-only and writable again.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "tests/support/files.h"

namespace test_support {

class small_disk {
  public:
    explicit small_disk(std::size_t bytes = 64 * 1024);
    ~small_disk();
    small_disk(const small_disk&) = delete;
    small_disk& operator=(const small_disk&) = delete;

    // false where mounting is not allowed; failure() then says why.
    bool mounted() const { return mounted_; }
    const std::string& failure() const { return failure_; }

    const std::string& path() const { return dir_.path(); }
    std::string file(std::string_view name) const { return dir_.file(name); }

    // Fills the file system with a file named "filler" until no byte more fits; true when
    // it is full.
    bool fill_up() const;
    // Removes the filler again.
    bool make_room() const;
    // Mounts the file system again, read-only or writable; true when that worked (the kernel
    // refuses read-only while a file on it is open for writing).
    bool set_read_only(bool read_only) const;

  private:
    temp_dir dir_;
    bool mounted_ = false;
    std::string failure_;
};

// A test with a small disk, skipped with a message where it cannot be mounted.
class small_disk_test : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!disk.mounted()) {
            GTEST_SKIP() << "cannot mount a tmpfs here (" << disk.failure()
                         << "); the full-disk case is not run";
        }
    }

    small_disk disk;
};

}  // namespace test_support
