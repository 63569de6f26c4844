#include "settings/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace settings_tool {

whole_file read_whole(const std::string& path) {
    whole_file file;
    // Without waiting: a FIFO of that name must not hold the program up until a writer comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        file.missing = errno == ENOENT;
        file.error = "cannot open " + path + ": " + std::strerror(errno);
        return file;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int reason = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        file.error = "cannot read " + path + ": " +
                     (reason == EISDIR ? std::string(std::strerror(reason))
                                       : std::string("not a regular file"));
        ::close(fd);
        return file;
    }
    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t k = ::read(fd, buffer, sizeof buffer);
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) {
            file.error = "cannot read " + path + ": " + std::strerror(errno);
            break;
        }
        if (k == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(k));
        if (bytes.size() > largest_file) {
            file.error = path + " is larger than any settings file";
            break;
        }
    }
    ::close(fd);
    if (file.error.empty()) file.bytes = std::move(bytes);
    return file;
}

}  // namespace settings_tool
