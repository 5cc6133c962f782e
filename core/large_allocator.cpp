#include "core/large_allocator.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
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

void* allocateFromSystem(std::size_t bytes) {
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

void releaseToSystem(void* memory, std::size_t bytes) noexcept {
    if (inHugePages(bytes)) {
        std::free(memory);
        return;
    }
    ::operator delete(memory);
}

// Sizes a kept block can be asked for again: four steps to each power of
// two, so a block serves requests up to a quarter smaller than it; whole
// huge pages from their size on, so a block holds no more than it counts.
std::size_t cachedSizeOf(std::size_t bytes) {
    std::size_t power = kCachedFromBytes;
    while (power <= bytes / 2) power *= 2;
    const std::size_t step = std::max(power / 4, bytes >= kHugePageBytes ? kHugePageBytes : 1);
    return (bytes + step - 1) / step * step;
}

constexpr unsigned kSpinsBeforeSleeping = 64;
constexpr unsigned kSleepWhileHeldUs = 50;

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct CachedBlock {
    void* memory = nullptr;
    std::size_t bytes = 0;
    std::int64_t releasedAt = 0;
};

// A spin lock that sleeps once its holder is slow, not a mutex: it holds no
// system object (a library loaded and unloaded all day must leave nothing
// per load), and it is held only to look through a few entries.
class BlockCache {
public:
    void* take(std::size_t bytes) {
        const Held held(*this);
        void* found = nullptr;
        for (CachedBlock& block : blocks_) {
            if (block.memory != nullptr && block.bytes == bytes) {
                found = block.memory;
                forget(block);
                break;
            }
        }
        dropIdle(held);
        return found;
    }

    // Room is made by letting the longest kept go: the next render most likely
    // asks for the sizes of the last. False when the block is not kept; the
    // caller then gives it back.
    bool keep(void* memory, std::size_t bytes) {
        const Held held(*this);
        dropIdle(held);
        if (bytes > kMaxCachedBytes) return false;
        CachedBlock* free = nullptr;
        for (std::size_t evicted = 0; evicted <= kMaxCachedBlocks; ++evicted) {
            free = freeSlot();
            if (free != nullptr && bytes <= kMaxCachedBytes - keptBytes_) break;
            evictOldest();
        }
        if (free == nullptr || bytes > kMaxCachedBytes - keptBytes_) return false;
        *free = {memory, bytes, nowNs()};
        keptBytes_ += bytes;
        ++keptBlocks_;
        return true;
    }

    void trimIdle() {
        const Held held(*this);
        dropIdle(held);
    }

    void releaseAll() {
        std::array<CachedBlock, kMaxCachedBlocks> all{};
        {
            const Held held(*this);
            for (std::size_t i = 0; i < blocks_.size(); ++i) {
                all[i] = blocks_[i];
                if (blocks_[i].memory != nullptr) forget(blocks_[i]);
            }
        }
        for (const CachedBlock& block : all) {
            if (block.memory != nullptr) releaseToSystem(block.memory, block.bytes);
        }
    }

    std::size_t count() const { return keptBlocks_.load(std::memory_order_relaxed); }

private:
    class Held {
    public:
        explicit Held(BlockCache& cache) : cache_(cache) {
            // A holder preempted on a busy machine is waited for asleep, not spun on.
            for (unsigned spins = 0; cache_.locked_.exchange(true, std::memory_order_acquire);
                 ++spins) {
                if (spins < kSpinsBeforeSleeping)
                    std::this_thread::yield();
                else
                    std::this_thread::sleep_for(std::chrono::microseconds(kSleepWhileHeldUs));
            }
        }
        ~Held() {
            const auto idle = cache_.idle_;
            cache_.idle_ = {};
            cache_.locked_.store(false, std::memory_order_release);
            for (const CachedBlock& block : idle) {
                if (block.memory != nullptr) releaseToSystem(block.memory, block.bytes);
            }
        }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        BlockCache& cache_;
    };

    CachedBlock* freeSlot() {
        for (CachedBlock& block : blocks_) {
            if (block.memory == nullptr) return &block;
        }
        return nullptr;
    }

    // Into idle_, so that it leaves the process once the lock is let go.
    void evictOldest() {
        std::size_t oldest = blocks_.size();
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            if (blocks_[i].memory != nullptr &&
                (oldest == blocks_.size() || blocks_[i].releasedAt < blocks_[oldest].releasedAt))
                oldest = i;
        }
        if (oldest == blocks_.size()) return;
        idle_[oldest] = blocks_[oldest];
        forget(blocks_[oldest]);
    }

    void forget(CachedBlock& block) {
        keptBytes_ -= block.bytes;
        --keptBlocks_;
        block = {};
    }

    // Blocks unused too long leave the cache now and the process when the lock is let go.
    void dropIdle(const Held&) {
        const std::int64_t now = nowNs();
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            if (blocks_[i].memory != nullptr && now - blocks_[i].releasedAt > kCacheIdleNs) {
                idle_[i] = blocks_[i];
                forget(blocks_[i]);
            }
        }
    }

    std::atomic<bool> locked_{false};
    std::array<CachedBlock, kMaxCachedBlocks> blocks_{};
    std::array<CachedBlock, kMaxCachedBlocks> idle_{};
    std::size_t keptBytes_ = 0;
    std::atomic<std::size_t> keptBlocks_{0};
};

constinit BlockCache gCache;

// Blocks outside [kCachedFromBytes, kMaxCachedBytes] are never kept, so the
// rounding cannot overflow.
bool cacheable(std::size_t bytes) {
    return kKeepsReleasedBlocks && bytes >= kCachedFromBytes && bytes <= kMaxCachedBytes;
}

}  // namespace

void* allocateLarge(std::size_t bytes) {
    if (!cacheable(bytes)) return allocateFromSystem(bytes);
    const std::size_t size = cachedSizeOf(bytes);
    if (void* kept = gCache.take(size)) return kept;
    try {
        return allocateFromSystem(size);
    } catch (const std::bad_alloc&) {
        gCache.releaseAll();  // the kept blocks of other sizes may be what is missing
        return allocateFromSystem(size);
    }
}

void releaseLarge(void* memory, std::size_t bytes) noexcept {
    if (memory == nullptr) return;
    if (!cacheable(bytes)) {
        releaseToSystem(memory, bytes);
        return;
    }
    const std::size_t size = cachedSizeOf(bytes);
    if (!gCache.keep(memory, size)) releaseToSystem(memory, size);
}

void releaseCachedBlocks() noexcept {
    gCache.releaseAll();
}

void trimIdleCachedBlocks() noexcept {
    gCache.trimIdle();
}

std::size_t cachedBlockCount() noexcept {
    return gCache.count();
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

}  // namespace cv
