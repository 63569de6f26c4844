// No interrupted or failed save loses a stored setting: a saver killed at random moments, a
// full file system, and failures injected into every system call of a save.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ifc/ifc_net.h"
#include "tests/support/files.h"
#include "tests/support/io_faults.h"
#include "tests/support/small_disk.h"
#include "tests/support/store_tables.h"
#include "tests/support/workdir.h"
#include "valve/vfp_ifc.h"

namespace {

using test_support::file_exists;
using test_support::int32_at;
using test_support::io_call;
using test_support::io_faults;
using test_support::read_file;
using test_support::slot_offset;
using test_support::write_file;

constexpr int test_slot = 3;
constexpr int kill_rounds = 150;

// A call of the I/O seam made to fail, and with which errno.
struct injected_fault {
    io_call which;
    int error;
};

class Crash : public ::testing::TestWithParam<test_support::settings_table> {
  protected:
    test_support::scoped_workdir dir;
    std::string path() const { return dir.file(GetParam().file); }
    std::string temp_path() const { return path() + ".tmp"; }
    std::string contents() const { return read_file(path()).value_or("<missing>"); }
};

// What the saving child reports through a pipe: a save is starting, or it has returned 0.
struct progress {
    std::int32_t value;
    std::int32_t saved;
};

[[noreturn]] void save_forever(const test_support::settings_table& t, int report_fd,
                               std::int32_t first) {
    for (std::int32_t v = first;; ++v) {
        progress p{v, 0};
        (void)!::write(report_fd, &p, sizeof p);
        if (t.write(t.probe, v, test_slot) == 0) {
            p.saved = 1;
            (void)!::write(report_fd, &p, sizeof p);
        }
    }
}

TEST_P(Crash, ASaverKilledAtRandomMomentsLeavesTheOldOrTheNewImage) {
    const auto& t = GetParam();
    ASSERT_EQ(t.write(t.probe, 0, test_slot), 0);
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ASSERT_EQ(::fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> delay_us(0, 4000);
    std::int32_t stored = 0;  // the value the file holds
    int killed_in_save = 0;
    for (int round = 0; round < kill_rounds; ++round) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            save_forever(t, fds[1], stored + 1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(rng)));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status));

        std::int32_t last_saved = stored;
        std::int32_t last_started = stored;
        progress p{};
        while (::read(fds[0], &p, sizeof p) == static_cast<ssize_t>(sizeof p)) {
            (p.saved ? last_saved : last_started) = p.value;
        }
        if (last_started != last_saved) ++killed_in_save;

        const std::string now = contents();
        ASSERT_EQ(now.size(), t.defaults.size()) << "round " << round;
        const std::int32_t found = int32_at(now, slot_offset(t.probe_record, test_slot));
        ASSERT_TRUE(found == last_saved || found == last_started)
            << "round " << round << ": file holds " << found << ", last save done " << last_saved
            << ", last save started " << last_started;
        ASSERT_EQ(now, t.image_with(test_slot, found)) << "round " << round;
        stored = found;
    }
    ::close(fds[0]);
    ::close(fds[1]);
    std::cout << kill_rounds << " kills, " << killed_in_save << " of them during a save\n";

    // The next save clears whatever temporary file the last kill left behind.
    ASSERT_EQ(t.write(t.probe, stored + 1, test_slot), 0);
    EXPECT_EQ(contents(), t.image_with(test_slot, stored + 1));
    EXPECT_FALSE(file_exists(temp_path()));
}

// Every system call of one write access is made to fail in turn. Whatever fails, the file
// stays complete: the old image when the rename has not happened, the new one once it has;
// a result of 0 always means the new image is stored; no temporary file is left; and the
// accessors carry on normally afterwards.
TEST_P(Crash, AFailureInAnyCallOfASaveKeepsACompleteFile) {
    const auto& t = GetParam();
    const std::string old_image = t.image_with(test_slot, 11);
    const std::string new_image = t.image_with(test_slot, 22);
    const auto describe = [&](const std::string& bytes) -> std::string {
        if (bytes == old_image) return "old";
        if (bytes == new_image) return "new";
        return "other image of " + std::to_string(bytes.size()) + " bytes";
    };
    write_file(path(), old_image);

    std::vector<io_call> save_calls;
    {
        io_faults counter;
        ASSERT_EQ(t.write(t.probe, 22, test_slot), 0);
        save_calls = counter.calls();
    }
    ASSERT_EQ(contents(), new_image);
    const int total_calls = static_cast<int>(save_calls.size());
    const int rename_call = static_cast<int>(
        std::find(save_calls.begin(), save_calls.end(), io_call::rename) - save_calls.begin() + 1);
    ASSERT_LT(rename_call, total_calls);

    for (int errno_value : {EIO, ENOSPC}) {
        for (int n = 1; n <= total_calls; ++n) {
            write_file(path(), old_image);
            int result = 0;
            io_call failed = io_call::any;
            {
                io_faults faults;
                faults.fail(io_call::any, n, errno_value);
                result = t.write(t.probe, 22, test_slot);
                failed = faults.failed_call();
            }
            SCOPED_TRACE(std::string("call ") + std::to_string(n) + " (" +
                         test_support::io_call_name(failed) + ") fails with " +
                         std::strerror(errno_value));
            ASSERT_NE(failed, io_call::any);
            const std::string now = contents();
            const char* expected = result == 0 || n > rename_call ? "new" : "old";
            EXPECT_EQ(describe(now), expected);
            if (failed != io_call::unlink) {
                EXPECT_FALSE(file_exists(temp_path()));
            }
            std::int32_t v = 0;
            EXPECT_EQ(t.read(t.probe, &v, test_slot), 0);
            EXPECT_EQ(v, now == new_image ? 22 : 11);
            if (::testing::Test::HasFailure()) return;
        }
    }
    EXPECT_EQ(t.write(t.probe, 33, test_slot), 0);
    EXPECT_EQ(contents(), t.image_with(test_slot, 33));
}

// A failure that lasts: every write, fsync or rename fails for a while. Each change is
// refused with -1, the stored settings stay and are served, and saving works again after.
TEST_P(Crash, ALastingFailureRefusesChangesAndKeepsTheStoredOnes) {
    const auto& t = GetParam();
    const std::string old_image = t.image_with(test_slot, 11);
    write_file(path(), old_image);
    for (const injected_fault& f :
         {injected_fault{io_call::write, ENOSPC}, injected_fault{io_call::write, EDQUOT},
          injected_fault{io_call::fsync, EIO}, injected_fault{io_call::rename, EIO},
          injected_fault{io_call::close, EIO}, injected_fault{io_call::open, EMFILE}}) {
        SCOPED_TRACE(test_support::io_call_name(f.which));
        {
            io_faults faults;
            faults.fail(f.which, 1, f.error, true);
            for (std::int32_t v = 40; v < 43; ++v) {
                EXPECT_EQ(t.write(t.probe, v, test_slot), -1);
                if (f.which != io_call::open) {
                    std::int32_t got = 0;
                    EXPECT_EQ(t.read(t.probe, &got, test_slot), 0);
                    EXPECT_EQ(got, 11);
                }
            }
        }
        EXPECT_EQ(contents(), old_image);
        EXPECT_FALSE(file_exists(temp_path()));
    }
    EXPECT_EQ(t.write(t.probe, 12, test_slot), 0);
    EXPECT_EQ(contents(), t.image_with(test_slot, 12));
}

// A file that is there but cannot be opened or read is not replaced by the defaults: the
// access proceeds on the defaults, a change is refused, and the file keeps every setting.
TEST_P(Crash, AFileThatCannotBeReadIsNeverOverwrittenWithDefaults) {
    const auto& t = GetParam();
    const std::string stored = t.image_with(test_slot, 11);
    write_file(path(), stored);
    for (const injected_fault& f :
         {injected_fault{io_call::open, EMFILE}, injected_fault{io_call::open, EIO},
          injected_fault{io_call::open, EACCES}, injected_fault{io_call::read, EIO}}) {
        SCOPED_TRACE(test_support::io_call_name(f.which));
        io_faults faults;
        faults.fail(f.which, 1, f.error);
        EXPECT_EQ(t.write(t.probe, 50, test_slot), -1);
        EXPECT_EQ(contents(), stored);
        faults.reset();
        faults.fail(f.which, 1, f.error);
        std::int32_t v = 0;
        EXPECT_EQ(t.read(t.probe, &v, test_slot), 0);
        EXPECT_EQ(v, t.probe_default(test_slot));
        EXPECT_EQ(contents(), stored);
    }
}

// Where the directory refuses new files but the settings file is writable, the file is
// rewritten in place (same inode), cut to the image size and flushed.
TEST_P(Crash, ADirectoryThatRefusesNewFilesFallsBackToRewritingInPlace) {
    const auto& t = GetParam();
    write_file(path(), t.image_with(test_slot, 11) + "trailing bytes");
    struct stat before {};
    ASSERT_EQ(::stat(path().c_str(), &before), 0);
    {
        io_faults faults;
        faults.refuse_create(EACCES);
        EXPECT_EQ(t.write(t.probe, 12, test_slot), 0);
        EXPECT_GE(faults.count(io_call::fsync), 1);
    }
    EXPECT_EQ(contents(), t.image_with(test_slot, 12));
    struct stat after {};
    ASSERT_EQ(::stat(path().c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);

    {
        io_faults faults;
        faults.refuse_create(EPERM);
        faults.fail(io_call::write, 1, EIO);
        EXPECT_EQ(t.write(t.probe, 13, test_slot), -1);
    }
    ASSERT_EQ(std::remove(path().c_str()), 0);
    {
        io_faults faults;
        faults.refuse_create(EACCES);
        EXPECT_EQ(t.write(t.probe, 14, test_slot), -1);  // nothing to rewrite
        std::int32_t v = 0;
        EXPECT_EQ(t.read(t.probe, &v, test_slot), 0);  // the defaults still serve
        EXPECT_EQ(v, t.probe_default(test_slot));
    }
    EXPECT_FALSE(file_exists(path()));
}

INSTANTIATE_TEST_SUITE_P(BothTables, Crash,
                         ::testing::Values(test_support::interface_table(),
                                           test_support::valve_table()),
                         [](const auto& info) { return std::string(info.param.label); });

// A real full file system (a small tmpfs of this test process alone) as the working
// directory.
class FullDisk : public test_support::small_disk_test {
  protected:
    void SetUp() override {
        small_disk_test::SetUp();
        if (IsSkipped()) return;
        previous = std::filesystem::current_path();
        ASSERT_EQ(::chdir(disk.path().c_str()), 0);
    }
    void TearDown() override {
        if (disk.mounted()) std::filesystem::current_path(previous);
    }

    std::filesystem::path previous;
};

TEST_F(FullDisk, ASaveOnAFullDiskFailsAndKeepsTheOldFile) {
    const std::string vfp = disk.file("valve_fp.set");
    ASSERT_EQ(VfpWrite("VAL_main_on", 111, 2), 0);
    const std::string stored = read_file(vfp).value();
    ASSERT_TRUE(disk.fill_up());

    EXPECT_EQ(VfpWrite("VAL_main_on", 222, 2), -1);
    EXPECT_EQ(read_file(vfp), stored);
    EXPECT_FALSE(file_exists(vfp + ".tmp"));
    std::int32_t v = 0;
    EXPECT_EQ(VfpRead("VAL_main_on", &v, 2), 0);
    EXPECT_EQ(v, 111);

    // No room for a first interface file either: the defaults serve, nothing is left behind.
    EXPECT_EQ(Ifc_SetRead("Tot", &v, 1), 0);
    EXPECT_EQ(v, 90);
    EXPECT_EQ(Ifc_SetWrite("Tot", 91, 1), -1);
    EXPECT_FALSE(file_exists(disk.file("ifc_set.set")));
    EXPECT_FALSE(file_exists(disk.file("ifc_set.set.tmp")));

    ASSERT_TRUE(disk.make_room());
    EXPECT_EQ(VfpWrite("VAL_main_on", 222, 2), 0);
    EXPECT_EQ(VfpRead("VAL_main_on", &v, 2), 0);
    EXPECT_EQ(v, 222);
}

}  // namespace
