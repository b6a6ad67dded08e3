// Large zeroed blocks on POSIX systems: anonymous mappings, on huge pages where
// the kernel offers them (Linux's transparent huge pages).
#if !defined(_WIN32)

#include <sys/mman.h>

#include "platform/platform.hpp"

namespace platform {

void* allocateZeroed(std::size_t bytes) {
    void* block =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
#if defined(MADV_HUGEPAGE)
    ::madvise(block, bytes, MADV_HUGEPAGE);  // a hint: without it the block still works
#endif
    return block;
}

void releaseZeroed(void* block, std::size_t bytes) {
    if (block) ::munmap(block, bytes);
}

}  // namespace platform

#endif
