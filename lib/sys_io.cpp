#include "lib/sys_io.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace sys_io {

namespace {

constexpr calls real_calls{
    [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
    ::read,
    ::write,
    ::fsync,
    ::ftruncate,
    ::close,
    ::rename,
    ::unlink,
    [](const char* path, struct stat* st) { return ::stat(path, st); },
    ::fchmod,
    ::fchown,
    [](int fd, struct stat* st) { return ::fstat(fd, st); },
    [](int fd, int flags) { return ::fcntl(fd, F_SETFL, flags); },
    [](const char* path, struct stat* st) { return ::lstat(path, st); },
    ::readlink,
};

const calls* in_use = &real_calls;

}  // namespace

const calls& real() {
    return real_calls;
}

const calls& active() {
    return *in_use;
}

const calls* install(const calls* table) {
    const calls* previous = in_use;
    in_use = table != nullptr ? table : &real_calls;
    return previous;
}

}  // namespace sys_io
