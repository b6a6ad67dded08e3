// Large zeroed blocks on Windows: committed pages cost memory only once
// touched. Large pages need a privilege users rarely hold, so none are asked for.
#include <windows.h>

#include "platform/platform.hpp"

namespace platform {

void* allocateZeroed(std::size_t bytes) {
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releaseZeroed(void* block, std::size_t /*bytes*/) {
    if (block) ::VirtualFree(block, 0, MEM_RELEASE);
}

void shareWarmHeaps() {}  // the C runtime's heap is shared already

}  // namespace platform
