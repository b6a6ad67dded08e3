// Memory on POSIX systems: large zeroed blocks as anonymous mappings, on huge
// pages where the kernel offers them (Linux's transparent huge pages), and the
// heaps new threads allocate from.
#include <cstdint>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <sys/mman.h>
#include <unistd.h>

#include "platform/platform.hpp"

namespace platform {

// The kernel backs only whole, aligned 2 MiB stretches with huge pages; the
// rest of an unaligned mapping takes small pages, up to 1,024 of them.
constexpr std::size_t kHugePage = std::size_t(2) << 20;

void* allocateZeroed(std::size_t bytes) {
    const std::size_t page = std::size_t(::sysconf(_SC_PAGESIZE));
    if (bytes == 0 || bytes > SIZE_MAX - 2 * kHugePage) return nullptr;
    // map a huge page more than asked, then give back what lies outside the
    // aligned block (whole pages: the block's own last page stays)
    const std::size_t kept = (bytes + page - 1) / page * page;
    const std::size_t mapped = kept + kHugePage;
    void* start =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED) return nullptr;
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t aligned = (first + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > first) ::munmap(start, aligned - first);
    const std::size_t tail = first + mapped - (aligned + kept);
    if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + kept), tail);
    void* block = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    ::madvise(block, bytes, MADV_HUGEPAGE);  // a hint: without it the block still works
#endif
    return block;
}

void releaseZeroed(void* block, std::size_t bytes) {
    if (block) ::munmap(block, bytes);
}

void shareWarmHeaps() {
#if defined(__GLIBC__)
    // glibc gives each new thread a heap (arena) of its own while fewer than
    // the limit exist, and its first touches cost a batch thousands of page
    // faults; past the limit, new threads share the arenas there are
    ::mallopt(M_ARENA_MAX, 1);
#endif
}

}  // namespace platform
