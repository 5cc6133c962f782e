#include "core/large_allocator.h"

#include <cstdlib>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace cv {

namespace {

bool inHugePages(std::size_t bytes) {
#if defined(__linux__)
    return bytes >= kHugePageBytes && bytes <= std::numeric_limits<std::size_t>::max() - kHugePageBytes;
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
        madvise(memory, rounded, MADV_HUGEPAGE);  // advice only: where refused, the pages stay small
        return memory;
    }
#endif
    return ::operator new(bytes);
}

void releaseLarge(void* memory, std::size_t bytes) noexcept {
    if (inHugePages(bytes)) {
        std::free(memory);
        return;
    }
    ::operator delete(memory);
}

}  // namespace cv
