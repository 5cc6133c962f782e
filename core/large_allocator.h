#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

namespace cv {

// From this size on a buffer is given whole huge pages where the system has them.
constexpr std::size_t kHugePageBytes = 2 * 1024 * 1024;

// Memory for buffers of many megabytes (a data block as stored and as
// decoded, an accumulator). On Linux it asks for transparent huge pages:
// taking tens of thousands of 4 KiB pages one fault at a time can cost more
// than decoding into them, above all in virtual machines. Elsewhere it is
// plain memory.
//
// Released buffers of 64 KiB or more are kept a while for the next render,
// which in a long-lived host (Explorer's thumbnail cache) otherwise takes
// them from the system again, and faults in every page again: Windows makes
// fresh pages resident in one call only within a small quota, and its heap
// gives blocks of half a megabyte and more straight back to the system. At
// most kMaxCachedBlocks and kMaxCachedBytes are kept, the longest kept
// giving way to the newest, each block for at most kCacheIdleNs unused
// (checked at each allocation and release, and by trimIdleCachedBlocks).
void* allocateLarge(std::size_t bytes);  // throws std::bad_alloc
void releaseLarge(void* memory, std::size_t bytes) noexcept;

// AddressSanitizer must see every release and every read past a request's
// end, which a kept block, rounded up, would hide from it.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(CORVANE_ADDRESS_SANITIZER)
constexpr bool kKeepsReleasedBlocks = false;
#else
constexpr bool kKeepsReleasedBlocks = true;
#endif
constexpr std::size_t kCachedFromBytes = 64 * 1024;
constexpr std::size_t kMaxCachedBlocks = 8;
constexpr std::size_t kMaxCachedBytes = 64 * 1024 * 1024;  // a 1,400-pixel colour preview's buffers
constexpr std::int64_t kCacheIdleNs = 10'000'000'000;

// Gives every kept buffer back to the system: a library calls it before it
// is unloaded, and when its host has no object of it left.
void releaseCachedBlocks() noexcept;
// Gives back those kept longer than kCacheIdleNs unused: a library calls it
// whenever its host sweeps, so a host that renders no more keeps nothing.
void trimIdleCachedBlocks() noexcept;

// The buffers kept now, for tests and figures.
std::size_t cachedBlockCount() noexcept;

template <typename T>
struct LargeAllocator {
    using value_type = T;

    LargeAllocator() = default;
    template <typename U>
    LargeAllocator(const LargeAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(allocateLarge(count * sizeof(T)));
    }
    void deallocate(T* memory, std::size_t count) noexcept {
        releaseLarge(memory, count * sizeof(T));
    }

    friend bool operator==(const LargeAllocator&, const LargeAllocator&) { return true; }
};

using LargeBytes = std::vector<std::uint8_t, LargeAllocator<std::uint8_t>>;
using LargeFloats = std::vector<float, LargeAllocator<float>>;

// Buffers from this size on are worth making resident in one call.
constexpr std::size_t kPrefaultFromBytes = 64 * 1024;

// Makes the pages of a buffer about to be written resident in one system
// call (Linux), instead of one fault at each first touch: in a fresh process
// the working buffers of a render take some 300 such faults, and on virtual
// machines each is a trap into the host. The contents stay as they were.
void prefaultForWriting(void* memory, std::size_t bytes) noexcept;

// Reserves room for `count` elements, resident at once. Throws std::bad_alloc.
template <typename T, typename Allocator>
void reserveResident(std::vector<T, Allocator>& buffer, std::size_t count) {
    buffer.reserve(count);
    prefaultForWriting(buffer.data(), buffer.capacity() * sizeof(T));
}

}  // namespace cv
