#include "fuzz/scratch_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/memory_io.h"

namespace fuzz_support {

namespace {

std::string scratch;

void remove_scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

std::string scratch_parent() {
    struct stat st {};
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && ::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    return std::filesystem::temp_directory_path().string();
}

}  // namespace

void enter_scratch_dir() {
    std::string pattern = scratch_parent() + "/ifc-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr || ::chdir(pattern.c_str()) != 0) {
        std::perror("fuzz scratch directory");
        std::abort();
    }
    scratch = pattern;
    std::atexit(remove_scratch);
    memory_io::install();
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd >= 0) {
        ::dup2(null_fd, STDOUT_FILENO);
        ::close(null_fd);
    }
}

void fresh_settings() {
    memory_io::clear();
}

}  // namespace fuzz_support
