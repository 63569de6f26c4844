// File primitives of module sim_main. Every system call goes through the sys_io table.
#include "lib/sim_main.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "lib/sys_io.h"

namespace {

constexpr const char* log_file = "cgi.log";
// Permission bits of a newly created file, before the umask.
constexpr mode_t create_mode = 0644;
constexpr char temp_suffix[] = ".tmp";

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
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// The temporary file beside the settings file and the directory holding both.
struct save_names {
    char temp[PATH_MAX];
    char dir[PATH_MAX];
};

bool make_names(const char* path, save_names& names) {
    const std::size_t len = std::strlen(path);
    if (len == 0 || len + sizeof temp_suffix > sizeof names.temp) return false;
    std::memcpy(names.temp, path, len);
    std::memcpy(names.temp + len, temp_suffix, sizeof temp_suffix);
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::strcpy(names.dir, ".");
    } else if (slash == path) {
        std::strcpy(names.dir, "/");
    } else {
        const auto dir_len = static_cast<std::size_t>(slash - path);
        std::memcpy(names.dir, path, dir_len);
        names.dir[dir_len] = '\0';
    }
    return true;
}

// The rename is durable only once the directory entry itself has reached the disk.
bool fsync_directory(const char* dir) {
    const int fd = io().open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool synced = io().fsync(fd) == 0;
    return io().close(fd) == 0 && synced;
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
    const int fd = io().open(path, O_WRONLY | O_CLOEXEC, 0);
    if (fd < 0) return -1;
    const bool written = write_fully(fd, data, len) &&
                         io().ftruncate(fd, static_cast<off_t>(len)) == 0 && io().fsync(fd) == 0;
    return io().close(fd) == 0 && written ? 0 : -1;
}

}  // namespace

image_load load_file_image(const char* path, std::span<std::byte> buf) {
    const int fd = io().open(path, O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        return {errno == ENOENT ? image_status::missing : image_status::unopenable, 0};
    }
    const long count = read_fully(fd, buf.data(), buf.size());
    io().close(fd);
    if (count < 0) return {image_status::unreadable, 0};
    const auto status = static_cast<std::size_t>(count) == buf.size() ? image_status::complete
                                                                      : image_status::short_file;
    return {status, static_cast<int>(count)};
}

int hfp_load_data2(const char* path, void* buf, int size) {
    if (path == nullptr || buf == nullptr || size < 0) return -1;
    const image_load loaded = load_file_image(
        path, std::span(static_cast<std::byte*>(buf), static_cast<std::size_t>(size)));
    switch (loaded.status) {
        case image_status::missing:
        case image_status::unopenable:
            return 0;
        case image_status::unreadable:
            return -1;
        default:
            return loaded.count;
    }
}

int hfp_save_data2(const char* path, const void* data, int len) {
    if (path == nullptr || len < 0 || (data == nullptr && len > 0)) return -1;
    static save_names names;  // static: two path buffers are too much for the stack
    if (!make_names(path, names)) return -1;
    const auto* bytes = static_cast<const std::byte*>(data);
    const auto count = static_cast<std::size_t>(len);

    struct stat old {};
    const bool had_file = io().stat(path, &old) == 0 && S_ISREG(old.st_mode);
    io().unlink(names.temp);  // left behind by a process that died in the middle of a save
    const int fd =
        io().open(names.temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, create_mode);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) return save_in_place(path, bytes, count);
        return -1;
    }
    if (had_file) keep_owner_and_mode(fd, old);
    const bool written = write_fully(fd, bytes, count) && io().fsync(fd) == 0;
    const bool closed = io().close(fd) == 0;
    if (!written || !closed || io().rename(names.temp, path) != 0) {
        io().unlink(names.temp);
        return -1;
    }
    return fsync_directory(names.dir) ? 0 : -1;
}

void append_log(const void* data, int len) {
    if (data == nullptr || len <= 0) return;
    const int fd = io().open(log_file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, create_mode);
    if (fd < 0) return;
    write_fully(fd, static_cast<const std::byte*>(data), static_cast<std::size_t>(len));
    io().close(fd);
}
