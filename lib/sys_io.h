// The system calls under the settings-file primitives, reached through one replaceable table.
// Production runs the real calls; a test installs a table that fails a chosen call, to show
// that no failed save loses a stored setting, or one that keeps the files in memory, for
// fuzzing at speed.
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
    int (*fstat)(int fd, struct stat* st);
    // fcntl(fd, F_SETFL, flags): the file status flags of an open file.
    int (*set_status_flags)(int fd, int flags);
    int (*lstat)(const char* path, struct stat* st);
    ssize_t (*readlink)(const char* path, char* buf, size_t size);
};

// The real system calls.
const calls& real();
// The table in use: real() unless a test installed another.
const calls& active();
// Makes table the one in use (nullptr: the real calls again); returns the one it replaces.
// The table must outlive its use.
const calls* install(const calls* table);

}  // namespace sys_io
