// File primitives of module sim_main. Every system call on the settings files goes through
// the sys_io table.
#include "lib/sim_main.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "lib/sys_io.h"

namespace {

constexpr const char* log_file = "cgi.log";
// Permission bits of a newly created file, before the umask.
constexpr mode_t create_mode = 0644;
// A temporary file is named "<file>.tmp.<pid>.<n>": no other process uses the name, and a
// leftover one tells whose it was. Versions before this one used "<file>.tmp".
constexpr std::string_view temp_infix = ".tmp";
// Symbolic links followed before giving up, as the kernel does (ELOOP).
constexpr int max_link_hops = 40;
// Names tried when a temporary name is taken (a leftover of an earlier process of this pid).
constexpr int max_temp_attempts = 16;

const sys_io::calls& io() {
    return sys_io::active();
}

// Reads until count bytes are in or the file ends: the count read, or -1 on an error.
long read_fully(int fd, std::byte* buf, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = io().read(fd, buf + done, count - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long>(done);
}

bool write_fully(int fd, const std::byte* data, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = io().write(fd, data + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        if (put == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Closes fd, keeping the errno of an earlier failure.
void close_keeping_errno(int fd) {
    const int saved = errno;
    io().close(fd);
    errno = saved;
}

// Opens path without waiting (a FIFO without a writer, a device) and keeps the descriptor
// only for a regular file, then in blocking mode again; else -1 with errno (EINVAL for a file
// of another kind).
int open_regular(const char* path, int flags) {
    const int fd = io().open(path, flags | O_NONBLOCK | O_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct stat st {};
    if (io().fstat(fd, &st) != 0) {
        close_keeping_errno(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        io().close(fd);
        errno = EINVAL;
        return -1;
    }
    if (io().set_status_flags(fd, flags & O_APPEND) != 0) {
        close_keeping_errno(fd);
        return -1;
    }
    return fd;
}

// The length of the directory part of path ("a/b/c" -> 3; "c" -> 0; "/c" -> 1).
std::size_t directory_length(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return 0;
    return slash == 0 ? 1 : slash;
}

// Joins parts into out (NUL-terminated); false with ENAMETOOLONG when they do not fit.
bool copy_text(char* out, std::size_t size, std::initializer_list<std::string_view> parts) {
    std::size_t used = 0;
    for (std::string_view part : parts) {
        if (used + part.size() + 1 > size) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(out + used, part.data(), part.size());
        used += part.size();
    }
    out[used] = '\0';
    return true;
}

// The file a settings path stands for: path itself, or the end of the chain of symbolic
// links it starts (which need not exist yet). false with errno when the chain cannot be
// followed.
bool resolve_links(const char* path, char (&out)[PATH_MAX]) {
    if (!copy_text(out, sizeof out, {path})) return false;
    for (int hop = 0; hop <= max_link_hops; ++hop) {
        struct stat st {};
        if (io().lstat(out, &st) != 0) return errno == ENOENT;
        if (!S_ISLNK(st.st_mode)) return true;
        char target[PATH_MAX];
        const ssize_t n = io().readlink(out, target, sizeof target - 1);
        if (n < 0) return false;
        const std::string_view link(target, static_cast<std::size_t>(n));
        if (link.empty()) {
            errno = ENOENT;
            return false;
        }
        // A relative target is relative to the directory of the link.
        const std::size_t dir = link.front() == '/' ? 0 : directory_length(out);
        char next[PATH_MAX];
        const bool joined =
            dir == 0 ? copy_text(next, sizeof next, {link})
                     : copy_text(next, sizeof next, {std::string_view(out, dir), "/", link});
        if (!joined || !copy_text(out, sizeof out, {next})) return false;
    }
    errno = ELOOP;
    return false;
}

// The directory of path, for flushing the renamed entry.
void directory_of(const char* path, char (&out)[PATH_MAX]) {
    const std::string_view p(path);
    const std::size_t len = directory_length(p);
    if (len == 0) {
        std::strcpy(out, ".");
    } else {
        copy_text(out, sizeof out, {p.substr(0, len)});
    }
}

// The rename is durable only once the directory entry itself has reached the disk.
bool fsync_directory(const char* dir) {
    const int fd = io().open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    if (io().fsync(fd) != 0) {
        close_keeping_errno(fd);
        return false;
    }
    return io().close(fd) == 0;
}

// The replacement takes over the old file's owner and permission bits, so that a file an
// installation prepared keeps its access rights. Best effort: a file system that refuses
// this still gets the data.
void keep_owner_and_mode(int fd, const struct stat& old) {
    if (old.st_uid != geteuid() || old.st_gid != getegid()) {
        io().fchown(fd, old.st_uid, old.st_gid);
    }
    io().fchmod(fd, old.st_mode & 07777);
}

// For a directory that refuses new files while the settings file itself is writable: the
// bytes are written over the old ones without truncating first, so the file never becomes
// shorter than the image on the way, then cut to length and flushed.
int save_in_place(const char* path, const std::byte* data, std::size_t len) {
    const int fd = open_regular(path, O_WRONLY);
    if (fd < 0) return -1;
    const bool written = write_fully(fd, data, len) &&
                         io().ftruncate(fd, static_cast<off_t>(len)) == 0 && io().fsync(fd) == 0;
    if (!written) {
        close_keeping_errno(fd);
        return -1;
    }
    return io().close(fd) == 0 ? 0 : -1;
}

// Creates a temporary file beside target under a name no other process uses.
int create_temp(const char* target, char (&temp)[PATH_MAX]) {
    static unsigned sequence = 0;  // names used by this process so far
    for (int attempt = 0; attempt < max_temp_attempts; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, "%.*s.%ld.%u", static_cast<int>(temp_infix.size()),
                      temp_infix.data(), static_cast<long>(getpid()), sequence++);
        if (!copy_text(temp, sizeof temp, {target, suffix})) return -1;
        const int fd =
            io().open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, create_mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Reads "<digits>" at the start of text into value; the rest of text after them.
bool read_number(std::string_view& text, long& value) {
    std::size_t i = 0;
    value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i < 10) {
        value = value * 10 + (text[i] - '0');
        ++i;
    }
    if (i == 0) return false;
    text.remove_prefix(i);
    return true;
}

// Is name a temporary file of file_name that no live process can still be writing?
bool is_stale_temp(std::string_view name, std::string_view file_name) {
    if (!name.starts_with(file_name)) return false;
    name.remove_prefix(file_name.size());
    if (!name.starts_with(temp_infix)) return false;
    name.remove_prefix(temp_infix.size());
    if (name.empty()) return true;  // the single name of the versions before
    long pid = 0;
    long n = 0;
    if (!name.starts_with('.')) return false;
    name.remove_prefix(1);
    if (!read_number(name, pid) || !name.starts_with('.')) return false;
    name.remove_prefix(1);
    if (!read_number(name, n) || !name.empty()) return false;
    if (pid == getpid()) return true;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

image_load load_file_image(const char* path, std::span<std::byte> buf) {
    const int fd = open_regular(path, O_RDONLY);
    if (fd < 0) {
        const int error = errno;
        const image_status status = error == ENOENT   ? image_status::missing
                                    : error == EINVAL ? image_status::not_regular
                                                      : image_status::unopenable;
        return {status, 0, error};
    }
    const long count = read_fully(fd, buf.data(), buf.size());
    const int error = errno;
    io().close(fd);
    if (count < 0) return {image_status::unreadable, 0, error};
    const auto status = static_cast<std::size_t>(count) == buf.size() ? image_status::complete
                                                                      : image_status::short_file;
    return {status, static_cast<int>(count), 0};
}

int hfp_load_data2(const char* path, void* buf, int size) {
    if (path == nullptr || buf == nullptr || size < 0) return -1;
    const image_load loaded = load_file_image(
        path, std::span(static_cast<std::byte*>(buf), static_cast<std::size_t>(size)));
    switch (loaded.status) {
        case image_status::missing:
        case image_status::unopenable:
            return 0;
        case image_status::not_regular:  // there, but nothing to read from it
        case image_status::unreadable:
            return -1;
        default:
            return loaded.count;
    }
}

int hfp_save_data2(const char* path, const void* data, int len) {
    if (path == nullptr || path[0] == '\0' || len < 0 || (data == nullptr && len > 0)) {
        errno = EINVAL;
        return -1;
    }
    // static: three path buffers are too much for the stack
    static char target[PATH_MAX];
    static char temp[PATH_MAX];
    static char dir[PATH_MAX];
    if (!resolve_links(path, target)) return -1;
    const auto* bytes = static_cast<const std::byte*>(data);
    const auto count = static_cast<std::size_t>(len);

    struct stat old {};
    const bool had_file = io().stat(target, &old) == 0;
    if (had_file && !S_ISREG(old.st_mode)) {
        errno = EINVAL;  // never replace a FIFO, device or directory with a file
        return -1;
    }
    const int fd = create_temp(target, temp);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) return save_in_place(target, bytes, count);
        return -1;
    }
    if (had_file) keep_owner_and_mode(fd, old);
    bool saved = write_fully(fd, bytes, count) && io().fsync(fd) == 0;
    if (!saved) close_keeping_errno(fd);
    saved = saved && io().close(fd) == 0 && io().rename(temp, target) == 0;
    if (!saved) {
        const int error = errno;
        io().unlink(temp);
        errno = error;
        return -1;
    }
    directory_of(target, dir);
    return fsync_directory(dir) ? 0 : -1;
}

void remove_stale_temp_files(const char* path) {
    char target[PATH_MAX];
    if (path == nullptr || !resolve_links(path, target)) return;
    char dir[PATH_MAX];
    directory_of(target, dir);
    const std::string_view whole(target);
    const std::size_t dir_len = directory_length(whole);
    const std::string_view file_name = whole.substr(dir_len == 0 ? 0 : dir_len + 1);
    DIR* listing = ::opendir(dir);
    if (listing == nullptr) return;
    while (const dirent* entry = ::readdir(listing)) {
        if (!is_stale_temp(entry->d_name, file_name)) continue;
        char stale[PATH_MAX];
        if (copy_text(stale, sizeof stale, {dir, "/", entry->d_name})) {
            io().unlink(stale);
        }
    }
    ::closedir(listing);
}

void append_log(const void* data, int len) {
    if (data == nullptr || len <= 0) return;
    const int fd = io().open(log_file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, create_mode);
    if (fd < 0) return;
    write_fully(fd, static_cast<const std::byte*>(data), static_cast<std::size_t>(len));
    io().close(fd);
}
