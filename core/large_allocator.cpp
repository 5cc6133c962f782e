#include "core/large_allocator.h"

#include <cstdlib>
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace cv {

namespace {

bool inHugePages(std::size_t bytes) {
#if defined(__linux__)
    return bytes >= kHugePageBytes &&
           bytes <= std::numeric_limits<std::size_t>::max() - kHugePageBytes;
#else
    static_cast<void>(bytes);
    return false;
#endif
}

}  // namespace

void* allocateLarge(std::size_t bytes) {
#if defined(__linux__)
    if (inHugePages(bytes)) {
        const std::size_t rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
        void* memory = std::aligned_alloc(kHugePageBytes, rounded);
        if (memory == nullptr) throw std::bad_alloc();
        madvise(memory, rounded,
                MADV_HUGEPAGE);  // advice only: where refused, the pages stay small
        return memory;
    }
#endif
    return ::operator new(bytes);
}

void prefaultForWriting(void* memory, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    static const long pageSize = sysconf(_SC_PAGESIZE);
    if (memory == nullptr || bytes < kPrefaultFromBytes || pageSize <= 0) return;
    const auto page = static_cast<std::uintptr_t>(pageSize);  // a power of two
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t first = (start + page - 1) & ~(page - 1);
    const std::uintptr_t end = (start + bytes) & ~(page - 1);
    // Advice only: kernels before 5.14 refuse it, and the pages then come one fault at a time.
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
    static_cast<void>(memory);
    static_cast<void>(bytes);
#endif
}

void releaseLarge(void* memory, std::size_t bytes) noexcept {
    if (inHugePages(bytes)) {
        std::free(memory);
        return;
    }
    ::operator delete(memory);
}

}  // namespace cv
