// Large zeroed blocks: zeroed, writable to their last byte, and (where huge
// pages exist) aligned so that the kernel can back all of them with huge pages.
#include <cstdint>

#include <gtest/gtest.h>

#include "platform/platform.hpp"

namespace {

TEST(Memory, ZeroedBlocksOfAnySizeAreWholeAndAligned) {
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    for (std::size_t bytes : {std::size_t(1), std::size_t(4097), kHugePage + 1, 64 * kHugePage}) {
        SCOPED_TRACE(bytes);
        auto* block = static_cast<unsigned char*>(platform::allocateZeroed(bytes));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(block[0], 0);
        EXPECT_EQ(block[bytes - 1], 0);
        block[0] = block[bytes - 1] = 1;
#if !defined(_WIN32)
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kHugePage, 0u);
#endif
        platform::releaseZeroed(block, bytes);
    }
    EXPECT_EQ(platform::allocateZeroed(SIZE_MAX), nullptr);
}

}  // namespace
