#include "core/large_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

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

// A released block serves the next request of its size class; blocks too
// small are given back at once, past the count the longest kept, and all on
// request.
TEST(LargeAllocator, KeepsReleasedBlocksWithinItsBoundsForTheNextRequest) {
    if (!cv::kKeepsReleasedBlocks) GTEST_SKIP() << "AddressSanitizer sees every release";
    cv::releaseCachedBlocks();
    const std::size_t size = 3 * cv::kCachedFromBytes;
    void* first = cv::allocateLarge(size);
    cv::releaseLarge(first, size);
    EXPECT_EQ(cv::cachedBlockCount(), 1u);
    void* again = cv::allocateLarge(size - 1000);
    EXPECT_EQ(again, first) << "a request up to a quarter smaller takes the same block";
    EXPECT_EQ(cv::cachedBlockCount(), 0u);
    cv::releaseLarge(again, size - 1000);
    cv::releaseLarge(cv::allocateLarge(cv::kCachedFromBytes - 1), cv::kCachedFromBytes - 1);
    EXPECT_EQ(cv::cachedBlockCount(), 1u) << "a small block is not kept";

    std::vector<void*> blocks;
    for (std::size_t i = 0; i < cv::kMaxCachedBlocks + 2; ++i)
        blocks.push_back(cv::allocateLarge(cv::kCachedFromBytes));
    for (void* block : blocks) cv::releaseLarge(block, cv::kCachedFromBytes);
    EXPECT_EQ(cv::cachedBlockCount(), cv::kMaxCachedBlocks);
    const std::size_t newest = 2 * cv::kCachedFromBytes;
    void* other = cv::allocateLarge(newest);
    cv::releaseLarge(other, newest);
    EXPECT_EQ(cv::cachedBlockCount(), cv::kMaxCachedBlocks);
    EXPECT_EQ(cv::allocateLarge(newest), other);
    EXPECT_EQ(cv::cachedBlockCount(), cv::kMaxCachedBlocks - 1)
        << "the longest kept made room for the newest";
    cv::releaseLarge(other, newest);
    cv::releaseCachedBlocks();
    EXPECT_EQ(cv::cachedBlockCount(), 0u);
}

}  // namespace
