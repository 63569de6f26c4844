// Counts the heap allocations of a process it is preloaded into (LD_PRELOAD), for the server
// benchmark: every malloc, calloc, realloc and aligned allocation (operator new comes through
// malloc) adds one to a counter in the file named by IFC_ALLOC_COUNT_FILE, which the
// benchmark maps too. The allocations themselves are made by the C library as usual.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
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

std::atomic<std::uint64_t>* counter = nullptr;

// Allocations before the counter is mapped (the loader's own) are not counted.
__attribute__((constructor)) void map_counter() {
    const char* path = getenv("IFC_ALLOC_COUNT_FILE");
    if (path == nullptr) return;
    const int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return;
    void* page = mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (page != MAP_FAILED) counter = static_cast<std::atomic<std::uint64_t>*>(page);
}

void count() {
    if (counter != nullptr) counter->fetch_add(1, std::memory_order_relaxed);
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

}  // extern "C"
