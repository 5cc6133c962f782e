// A test build of the server that counts its own live allocations: every
// operator new and delete of the DLL's code and of the runtime linked into it
// comes through here, so the soak can tell growth in Corvane from the host's.
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

volatile LONG64 gLive = 0;

void* counted(std::size_t bytes) {
    void* memory = std::malloc(bytes == 0 ? 1 : bytes);
    if (memory != nullptr) InterlockedIncrement64(&gLive);
    return memory;
}

void* countedAligned(std::size_t bytes, std::align_val_t alignment) {
    void* memory = _aligned_malloc(bytes == 0 ? 1 : bytes, static_cast<std::size_t>(alignment));
    if (memory != nullptr) InterlockedIncrement64(&gLive);
    return memory;
}

void release(void* memory) {
    if (memory == nullptr) return;
    InterlockedDecrement64(&gLive);
    std::free(memory);
}

void releaseAligned(void* memory) {
    if (memory == nullptr) return;
    InterlockedDecrement64(&gLive);
    _aligned_free(memory);
}

}  // namespace

extern "C" __declspec(dllexport) LONG64 CorvaneLiveAllocations() {
    return InterlockedCompareExchange64(&gLive, 0, 0);
}

void* operator new(std::size_t bytes) {
    if (void* memory = counted(bytes)) return memory;
    throw std::bad_alloc();
}
void* operator new[](std::size_t bytes) {
    return operator new(bytes);
}
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
    return counted(bytes);
}
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
    return counted(bytes);
}
void* operator new(std::size_t bytes, std::align_val_t alignment) {
    if (void* memory = countedAligned(bytes, alignment)) return memory;
    throw std::bad_alloc();
}
void* operator new[](std::size_t bytes, std::align_val_t alignment) {
    return operator new(bytes, alignment);
}
void* operator new(std::size_t bytes, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return countedAligned(bytes, alignment);
}
void* operator new[](std::size_t bytes, std::align_val_t alignment,
                     const std::nothrow_t&) noexcept {
    return countedAligned(bytes, alignment);
}

void operator delete(void* memory) noexcept {
    release(memory);
}
void operator delete[](void* memory) noexcept {
    release(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    release(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    release(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    release(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
    releaseAligned(memory);
}
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    releaseAligned(memory);
}
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept {
    releaseAligned(memory);
}
