// A test build of the server that counts its own live allocations: every
// operator new and delete of the DLL's code and of the runtime linked into it
// comes through these (the runtime's array and nothrow forms call
// them), so the soak can tell growth in Corvane from the host's.
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

volatile LONG64 gLive = 0;

}  // namespace

extern "C" __declspec(dllexport) LONG64 CorvaneLiveAllocations() {
    return InterlockedCompareExchange64(&gLive, 0, 0);
}

void* operator new(std::size_t bytes) {
    void* memory = std::malloc(bytes == 0 ? 1 : bytes);
    if (memory == nullptr) throw std::bad_alloc();
    InterlockedIncrement64(&gLive);
    return memory;
}

void operator delete(void* memory) noexcept {
    if (memory == nullptr) return;
    InterlockedDecrement64(&gLive);
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    operator delete(memory);
}
