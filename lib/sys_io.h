// The system calls under the settings-file primitives, reached through one replaceable table.
// Production runs the real calls; a test installs a table that fails a chosen call, to show
// that no failed save loses a stored setting.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

namespace sys_io {

struct calls {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void* buf, size_t count);
    ssize_t (*write)(int fd, const void* buf, size_t count);
    int (*fsync)(int fd);
    int (*ftruncate)(int fd, off_t length);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    int (*stat)(const char* path, struct stat* st);
    int (*fchmod)(int fd, mode_t mode);
    int (*fchown)(int fd, uid_t owner, gid_t group);
};

// The real system calls.
const calls& real();
// The table in use: real() unless a test installed another.
const calls& active();
// Makes table the one in use (nullptr: the real calls again); returns the one it replaces.
// The table must outlive its use.
const calls* install(const calls* table);

}  // namespace sys_io
