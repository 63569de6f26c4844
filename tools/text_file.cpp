#include "tools/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace ifc_tool {

namespace {

std::string failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t k = ::write(fd, text.data() + done, text.size() - done);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        done += static_cast<std::size_t>(k);
    }
    return true;
}

}  // namespace

text_file_result read_text_file(const std::string& path, std::size_t limit) {
    const bool standard_input = path == "-";
    const int fd = standard_input ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {std::nullopt, failure("cannot open", path)};
    std::string text;
    std::string error;
    char buffer[8192];
    for (;;) {
        const ssize_t k = ::read(fd, buffer, sizeof buffer);
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) {
            error = failure("cannot read", standard_input ? "standard input" : path);
            break;
        }
        if (k == 0) break;
        text.append(buffer, static_cast<std::size_t>(k));
        if (text.size() > limit) {
            error = (standard_input ? std::string("standard input") : path) + " is larger than " +
                    std::to_string(limit) + " bytes";
            break;
        }
    }
    if (!standard_input) ::close(fd);
    if (!error.empty()) return {std::nullopt, error};
    return {std::move(text), ""};
}

std::string write_text_file(const std::string& path, const std::string& text) {
    if (path == "-") {
        return write_all(STDOUT_FILENO, text) ? "" : failure("cannot write", "standard output");
    }
    // A link stays a link: the file it names is replaced.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) target = resolved;
    }
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return "cannot write " + path + ": not a regular file";
    }
    const std::string temporary = target + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return failure("cannot write", path);
    const bool written = write_all(fd, text) && ::fsync(fd) == 0;
    const std::string write_error = written ? "" : failure("cannot write", path);
    if (::close(fd) != 0 && written) {
        ::unlink(temporary.c_str());
        return failure("cannot write", path);
    }
    if (!written) {
        ::unlink(temporary.c_str());
        return write_error;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const std::string error = failure("cannot replace", path);
        ::unlink(temporary.c_str());
        return error;
    }
    return "";
}

}  // namespace ifc_tool
