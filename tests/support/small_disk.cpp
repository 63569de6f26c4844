#include "tests/support/small_disk.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace test_support {

small_disk::small_disk(std::size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
        failure_ = std::strerror(errno);
        return;
    }
    mounted_ = true;
}

small_disk::~small_disk() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
}

bool small_disk::fill_up() const {
    const int fd = ::open(file("filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    while (::write(fd, block.data(), 1) > 0) {
    }
    const bool full = errno == ENOSPC;
    ::close(fd);
    return full;
}

bool small_disk::make_room() const {
    return ::unlink(file("filler").c_str()) == 0;
}

bool small_disk::set_read_only(bool read_only) const {
    const unsigned long flags = MS_REMOUNT | (read_only ? MS_RDONLY : 0);
    return mounted_ && ::mount(nullptr, dir_.path().c_str(), nullptr, flags, nullptr) == 0;
}

}  // namespace test_support
