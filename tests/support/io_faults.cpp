#include "tests/support/io_faults.h"

#include <fcntl.h>

#include <cerrno>
#include <iterator>
#include <stdexcept>

namespace test_support {

namespace {

io_faults* active = nullptr;

// True, with errno set, when the call about to be made must fail.
bool failing(io_call which, int open_flags = 0) {
    if (!active->should_fail(which, open_flags)) return false;
    errno = active->error();
    return true;
}

}  // namespace

const char* io_call_name(io_call which) {
    constexpr const char* names[] = {
        "open", "read",   "write",  "fsync", "ftruncate",        "close", "rename",   "unlink",
        "stat", "fchmod", "fchown", "fstat", "set_status_flags", "lstat", "readlink", "any"};
    static_assert(std::size(names) == io_call_kinds + 1);
    return names[static_cast<std::size_t>(which)];
}

io_faults::io_faults() {
    if (active != nullptr) throw std::logic_error("one io_faults at a time");
    table_.open = [](const char* path, int flags, mode_t mode) {
        return failing(io_call::open, flags) ? -1 : sys_io::real().open(path, flags, mode);
    };
    table_.read = [](int fd, void* buf, size_t count) -> ssize_t {
        return failing(io_call::read) ? -1 : sys_io::real().read(fd, buf, count);
    };
    table_.write = [](int fd, const void* buf, size_t count) -> ssize_t {
        return failing(io_call::write) ? -1 : sys_io::real().write(fd, buf, count);
    };
    table_.fsync = [](int fd) { return failing(io_call::fsync) ? -1 : sys_io::real().fsync(fd); };
    table_.ftruncate = [](int fd, off_t length) {
        return failing(io_call::ftruncate) ? -1 : sys_io::real().ftruncate(fd, length);
    };
    table_.close = [](int fd) {
        // A failed close still releases the descriptor, as on Linux.
        if (!failing(io_call::close)) return sys_io::real().close(fd);
        const int injected = errno;
        sys_io::real().close(fd);
        errno = injected;
        return -1;
    };
    table_.rename = [](const char* from, const char* to) {
        return failing(io_call::rename) ? -1 : sys_io::real().rename(from, to);
    };
    table_.unlink = [](const char* path) {
        return failing(io_call::unlink) ? -1 : sys_io::real().unlink(path);
    };
    table_.stat = [](const char* path, struct stat* st) {
        return failing(io_call::stat) ? -1 : sys_io::real().stat(path, st);
    };
    table_.fchmod = [](int fd, mode_t mode) {
        return failing(io_call::fchmod) ? -1 : sys_io::real().fchmod(fd, mode);
    };
    table_.fchown = [](int fd, uid_t owner, gid_t group) {
        return failing(io_call::fchown) ? -1 : sys_io::real().fchown(fd, owner, group);
    };
    table_.fstat = [](int fd, struct stat* st) {
        return failing(io_call::fstat) ? -1 : sys_io::real().fstat(fd, st);
    };
    table_.set_status_flags = [](int fd, int flags) {
        return failing(io_call::set_status_flags) ? -1 : sys_io::real().set_status_flags(fd, flags);
    };
    table_.lstat = [](const char* path, struct stat* st) {
        return failing(io_call::lstat) ? -1 : sys_io::real().lstat(path, st);
    };
    table_.readlink = [](const char* path, char* buf, size_t size) -> ssize_t {
        return failing(io_call::readlink) ? -1 : sys_io::real().readlink(path, buf, size);
    };
    active = this;
    previous_ = sys_io::install(&table_);
}

io_faults::~io_faults() {
    sys_io::install(previous_);
    active = nullptr;
}

void io_faults::fail(io_call which, int nth, int error, bool every_later) {
    plan_ = which;
    nth_ = nth;
    error_ = error;
    every_later_ = every_later;
}

void io_faults::refuse_create(int error) {
    refuse_create_error_ = error;
}

void io_faults::reset() {
    counts_ = {};
    calls_.clear();
    nth_ = 0;
    refuse_create_error_ = 0;
    failed_ = io_call::any;
}

int io_faults::count(io_call which) const {
    return counts_[static_cast<std::size_t>(which)];
}

bool io_faults::should_fail(io_call which, int open_flags) {
    calls_.push_back(which);
    const int kind_count = ++counts_[static_cast<std::size_t>(which)];
    const int any_count = ++counts_[io_call_kinds];
    if (which == io_call::open && (open_flags & O_CREAT) != 0 && refuse_create_error_ != 0) {
        error_ = refuse_create_error_;
        failed_ = which;
        return true;
    }
    if (nth_ == 0 || (plan_ != io_call::any && plan_ != which)) return false;
    const int n = plan_ == io_call::any ? any_count : kind_count;
    if (n == nth_ || (every_later_ && n > nth_)) {
        failed_ = which;
        return true;
    }
    return false;
}

}  // namespace test_support
