// Fault injection under the settings-file primitives: while an io_faults object lives, every
// system call of the primitives goes through it. It counts the calls, passes them on to the
// real ones, and fails the one it is told to fail.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "lib/sys_io.h"

namespace test_support {

enum class io_call {
    open,
    read,
    write,
    fsync,
    ftruncate,
    close,
    rename,
    unlink,
    stat,
    fchmod,
    fchown,
    fstat,
    set_status_flags,
    lstat,
    readlink,
    any,  // in a plan: the nth call of whatever kind
};
inline constexpr std::size_t io_call_kinds = static_cast<std::size_t>(io_call::any);

const char* io_call_name(io_call which);

class io_faults {
  public:
    io_faults();
    ~io_faults();
    io_faults(const io_faults&) = delete;
    io_faults& operator=(const io_faults&) = delete;

    // Fails the nth call (from 1, counted from now) of kind which with errno error; with
    // every_later, also all calls of that kind after it.
    void fail(io_call which, int nth, int error, bool every_later = false);
    // Fails every open that would create a file (O_CREAT), as a directory without write
    // permission does, with errno error.
    void refuse_create(int error);
    // Forgets the counts and the plan.
    void reset();

    int count(io_call which) const;
    // Every call made so far, in order.
    const std::vector<io_call>& calls() const { return calls_; }
    // The kind of the call that was made to fail, or io_call::any when none was.
    io_call failed_call() const { return failed_; }

    // Used by the table's functions: true when the call about to be made must fail.
    bool should_fail(io_call which, int open_flags = 0);
    int error() const { return error_; }

  private:
    sys_io::calls table_;
    const sys_io::calls* previous_;
    std::array<int, io_call_kinds + 1> counts_{};
    std::vector<io_call> calls_;
    io_call plan_ = io_call::any;
    int nth_ = 0;  // 0: no failure planned
    bool every_later_ = false;
    int error_ = 0;
    int refuse_create_error_ = 0;
    io_call failed_ = io_call::any;
};

}  // namespace test_support
