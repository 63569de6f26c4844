// Counts the heap allocations and the flushes to disk of a process it is preloaded into
// (LD_PRELOAD), for the server benchmark: every malloc, calloc, realloc and aligned allocation
// (operator new comes through malloc) adds one to the first counter in the file named by
// IFC_ALLOC_COUNT_FILE, which the benchmark maps too, and every fsync and fdatasync one to the
// second. The calls themselves are made as usual.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {

// [0]: heap allocations, [1]: flushes.
std::atomic<std::uint64_t>* counter = nullptr;

// Allocations before the counter is mapped (the loader's own) are not counted.
__attribute__((constructor)) void map_counter() {
    const char* path = getenv("IFC_ALLOC_COUNT_FILE");
    if (path == nullptr) return;
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return;
    void* page =
        mmap(nullptr, 2 * sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (page != MAP_FAILED) counter = static_cast<std::atomic<std::uint64_t>*>(page);
}

void count(int which = 0) {
    if (counter != nullptr) counter[which].fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

extern "C" {

void* malloc(size_t size) noexcept {
    count();
    return __libc_malloc(size);
}

void* calloc(size_t n, size_t size) noexcept {
    count();
    return __libc_calloc(n, size);
}

void* realloc(void* block, size_t size) noexcept {
    count();
    return __libc_realloc(block, size);
}

void free(void* block) noexcept {
    __libc_free(block);
}

void* memalign(size_t alignment, size_t size) noexcept {
    count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) noexcept {
    count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    count();
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr) return 12;  // ENOMEM
    *out = block;
    return 0;
}

int fsync(int fd) {
    count(1);
    return static_cast<int>(syscall(SYS_fsync, fd));
}

int fdatasync(int fd) {
    count(1);
    return static_cast<int>(syscall(SYS_fdatasync, fd));
}

}  // extern "C"
