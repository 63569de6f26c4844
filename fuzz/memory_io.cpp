#include "fuzz/memory_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include "lib/sys_io.h"

namespace memory_io {

namespace {

struct open_file {
    std::string name;  // "" for the directory
    std::size_t offset = 0;
    int flags = 0;
};

std::map<std::string, std::string, std::less<>> files;
std::map<int, open_file> descriptors;
int next_fd = 1000;
int call_count = 0;
int fail_at = 0;
int fail_error = 0;

// Paths are names in the root: "./x" is "x", "." is the root itself ("").
std::string_view normal(std::string_view path) {
    while (path.starts_with("./"))
        path.remove_prefix(2);
    if (path == ".") return "";
    return path;
}

// True, with errno set, when this call must fail.
bool failing() {
    ++call_count;
    if (fail_at != 0 && call_count == fail_at) {
        errno = fail_error;
        return true;
    }
    return false;
}

int fail_with(int error) {
    errno = error;
    return -1;
}

open_file* find_fd(int fd) {
    const auto it = descriptors.find(fd);
    return it == descriptors.end() ? nullptr : &it->second;
}

void fill_stat(struct stat* st, std::string_view name) {
    *st = {};
    if (name.empty()) {
        st->st_mode = S_IFDIR | 0755;
    } else {
        st->st_mode = S_IFREG | 0644;
        st->st_size = static_cast<off_t>(files.find(name)->second.size());
    }
    // Asked once: a system call per stat would cost the fuzzers a good share of their speed.
    static const uid_t uid = geteuid();
    static const gid_t gid = getegid();
    st->st_nlink = 1;
    st->st_uid = uid;
    st->st_gid = gid;
}

int memory_open(const char* path, int flags, mode_t) {
    if (failing()) return -1;
    const std::string_view name = normal(path);
    if (name.empty()) {
        if ((flags & O_ACCMODE) != O_RDONLY) return fail_with(EISDIR);
    } else {
        if ((flags & O_DIRECTORY) != 0) return fail_with(ENOTDIR);
        if (name.find('/') != std::string_view::npos) return fail_with(ENOENT);
        auto it = files.find(name);
        if (it == files.end()) {
            if ((flags & O_CREAT) == 0) return fail_with(ENOENT);
            it = files.emplace(std::string(name), std::string()).first;
        } else if ((flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)) {
            return fail_with(EEXIST);
        }
        if ((flags & O_TRUNC) != 0) it->second.clear();
    }
    descriptors[next_fd] = open_file{std::string(name), 0, flags};
    return next_fd++;
}

ssize_t memory_read(int fd, void* buf, size_t count) {
    if (failing()) return -1;
    open_file* f = find_fd(fd);
    if (f == nullptr) return fail_with(EBADF);
    if (f->name.empty()) return fail_with(EISDIR);
    const std::string& data = files[f->name];
    const std::size_t n = f->offset < data.size() ? std::min(count, data.size() - f->offset) : 0;
    std::memcpy(buf, data.data() + f->offset, n);
    f->offset += n;
    return static_cast<ssize_t>(n);
}

ssize_t memory_write(int fd, const void* buf, size_t count) {
    if (failing()) return -1;
    open_file* f = find_fd(fd);
    if (f == nullptr || (f->flags & O_ACCMODE) == O_RDONLY) return fail_with(EBADF);
    std::string& data = files[f->name];
    if ((f->flags & O_APPEND) != 0) f->offset = data.size();
    if (data.size() < f->offset + count) data.resize(f->offset + count);
    std::memcpy(data.data() + f->offset, buf, count);
    f->offset += count;
    return static_cast<ssize_t>(count);
}

int memory_fsync(int fd) {
    if (failing()) return -1;
    return find_fd(fd) != nullptr ? 0 : fail_with(EBADF);
}

int memory_ftruncate(int fd, off_t length) {
    if (failing()) return -1;
    open_file* f = find_fd(fd);
    if (f == nullptr || f->name.empty()) return fail_with(EBADF);
    files[f->name].resize(static_cast<std::size_t>(length));
    return 0;
}

int memory_close(int fd) {
    const bool failed = failing();  // the descriptor is released all the same
    if (descriptors.erase(fd) == 0) return fail_with(EBADF);
    return failed ? -1 : 0;
}

int memory_rename(const char* from, const char* to) {
    if (failing()) return -1;
    const auto it = files.find(normal(from));
    if (it == files.end()) return fail_with(ENOENT);
    std::string data = std::move(it->second);
    files.erase(it);
    files[std::string(normal(to))] = std::move(data);
    return 0;
}

int memory_unlink(const char* path) {
    if (failing()) return -1;
    const auto it = files.find(normal(path));
    if (it == files.end()) return fail_with(ENOENT);
    files.erase(it);
    return 0;
}

int memory_stat(const char* path, struct stat* st) {
    if (failing()) return -1;
    const std::string_view name = normal(path);
    if (!name.empty() && files.find(name) == files.end()) return fail_with(ENOENT);
    fill_stat(st, name);
    return 0;
}

int memory_fstat(int fd, struct stat* st) {
    if (failing()) return -1;
    const open_file* f = find_fd(fd);
    if (f == nullptr) return fail_with(EBADF);
    fill_stat(st, f->name);
    return 0;
}

int memory_set_status_flags(int fd, int flags) {
    if (failing()) return -1;
    open_file* f = find_fd(fd);
    if (f == nullptr) return fail_with(EBADF);
    f->flags = (f->flags & ~(O_APPEND | O_NONBLOCK)) | (flags & (O_APPEND | O_NONBLOCK));
    return 0;
}

int memory_fchmod(int fd, mode_t) {
    if (failing()) return -1;
    return find_fd(fd) != nullptr ? 0 : fail_with(EBADF);
}

int memory_fchown(int fd, uid_t, gid_t) {
    if (failing()) return -1;
    return find_fd(fd) != nullptr ? 0 : fail_with(EBADF);
}

ssize_t memory_readlink(const char* path, char*, size_t) {
    if (failing()) return -1;
    // There are no symbolic links in memory.
    return fail_with(normal(path).empty() || files.count(normal(path)) != 0 ? EINVAL : ENOENT);
}

constexpr sys_io::calls memory_calls{
    memory_open,
    memory_read,
    memory_write,
    memory_fsync,
    memory_ftruncate,
    memory_close,
    memory_rename,
    memory_unlink,
    memory_stat,
    memory_fchmod,
    memory_fchown,
    memory_fstat,
    memory_set_status_flags,
    memory_stat,
    memory_readlink,
};

}  // namespace

void install() {
    sys_io::install(&memory_calls);
}

void uninstall() {
    sys_io::install(nullptr);
}

void clear() {
    files.clear();
    descriptors.clear();
    call_count = 0;
    fail_at = 0;
}

void put_file(std::string_view name, std::string_view bytes) {
    files[std::string(normal(name))] = std::string(bytes);
}

std::optional<std::string> file(std::string_view name) {
    const auto it = files.find(normal(name));
    if (it == files.end()) return std::nullopt;
    return it->second;
}

std::size_t file_count() {
    return files.size();
}

void fail_call(int nth, int error) {
    call_count = 0;
    fail_at = nth;
    fail_error = error;
}

int calls() {
    return call_count;
}

}  // namespace memory_io
