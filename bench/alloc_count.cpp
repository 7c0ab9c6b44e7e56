// Counts a process's heap allocations when preloaded (LD_PRELOAD): every malloc, calloc, realloc
// and aligned allocation (operator new comes through malloc) adds one to a 64-bit counter in the
// file $SKYRELAY_ALLOC_COUNT_FILE, which another process reads while this one runs. The memory
// itself comes from the C library's own allocator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

std::uint64_t early = 0; // allocations before the counter file was mapped
std::uint64_t* counter = &early;

void Count() {
    __atomic_fetch_add(counter, 1, __ATOMIC_RELAXED);
}

// Maps the counter file at load time; only system calls, so nothing here allocates.
__attribute__((constructor)) void MapCounter() {
    const char* path = std::getenv("SKYRELAY_ALLOC_COUNT_FILE");
    if (path == nullptr)
        return;
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    if (ftruncate(fd, sizeof(std::uint64_t)) == 0) {
        void* shared =
            mmap(nullptr, sizeof(std::uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (shared != MAP_FAILED) {
            auto* mapped = static_cast<std::uint64_t*>(shared);
            __atomic_store_n(mapped, __atomic_load_n(&early, __ATOMIC_RELAXED), __ATOMIC_RELAXED);
            counter = mapped;
        }
    }
    close(fd);
}

} // namespace

extern "C" {

void* malloc(std::size_t size) {
    Count();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    Count();
    return __libc_calloc(count, size);
}

void* realloc(void* memory, std::size_t size) {
    Count();
    return __libc_realloc(memory, size);
}

void* memalign(std::size_t alignment, std::size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** memory, std::size_t alignment, std::size_t size) {
    Count();
    void* block = __libc_memalign(alignment, size);
    if (block == nullptr)
        return 12; // ENOMEM
    *memory = block;
    return 0;
}

} // extern "C"
