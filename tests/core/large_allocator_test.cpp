#include "core/large_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Buffers either side of the huge-page size keep their bytes through copies
// and growth; on Linux the large ones start on a huge-page boundary.
TEST(LargeAllocator, HoldsSmallAndLargeBuffers) {
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{4096}, cv::kHugePageBytes - 1,
          cv::kHugePageBytes, 3 * cv::kHugePageBytes + 5}) {
        cv::LargeBytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31);
        const cv::LargeBytes copy = bytes;
        bytes.resize(size + cv::kHugePageBytes);
        for (std::size_t i = 0; i < size; ++i) {
            ASSERT_EQ(copy[i], static_cast<std::uint8_t>(i * 31)) << size;
            ASSERT_EQ(bytes[i], copy[i]) << size;
        }
#if defined(__linux__)
        if (size >= cv::kHugePageBytes) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(copy.data()) % cv::kHugePageBytes, 0u)
                << size;
        }
#endif
    }
}

}  // namespace
