#include "shell/fault_guard_win.h"

#include <atomic>
#include <exception>

namespace cvwin {

namespace {

// GCC's register-only setjmp: no unwinding runs through the faulting frames.
using JumpBuffer = void* [5];

// The guard of each thread lives in a system TLS slot rather than in a C++
// thread_local: mingw allocates thread_locals on first use, and the handler
// runs for faults on any thread, where reading one could allocate inside
// another thread's access violation. TlsGetValue never allocates.
INIT_ONCE gSlotOnce = INIT_ONCE_STATIC_INIT;
std::atomic<DWORD> gSlot{TLS_OUT_OF_INDEXES};

BOOL CALLBACK allocateSlot(INIT_ONCE*, void*, void**) {
    const DWORD slot = TlsAlloc();
    gSlot.store(slot);
    return slot != TLS_OUT_OF_INDEXES;
}

// Reads the slot without disturbing the thread's last-error value, which
// TlsGetValue resets, and which the faulting code may still need.
JumpBuffer* currentGuard(DWORD slot) {
    const DWORD lastError = GetLastError();
    auto* guard = static_cast<JumpBuffer*>(TlsGetValue(slot));
    SetLastError(lastError);
    return guard;
}

bool isProcessorFault(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_IN_PAGE_ERROR:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_INT_OVERFLOW:
        case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
        case EXCEPTION_DATATYPE_MISALIGNMENT:
        case EXCEPTION_FLT_DIVIDE_BY_ZERO:
        case EXCEPTION_FLT_INVALID_OPERATION: return true;
        default: return false;
    }
}

[[noreturn]] void landAfterFault() {
    JumpBuffer* guard = currentGuard(gSlot.load(std::memory_order_relaxed));
    __builtin_longjmp(*guard, 1);
}

// Continues the faulting thread in landAfterFault, as if the faulting
// instruction had called it, so it jumps back into runGuarded. The code is
// looked at first: the host's own exceptions (C++ ones above all) pass
// without any further work here.
LONG CALLBACK onException(EXCEPTION_POINTERS* exception) {
    if (!isProcessorFault(exception->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
    if (currentGuard(gSlot.load(std::memory_order_relaxed)) == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    CONTEXT* context = exception->ContextRecord;
    context->Rsp = (context->Rsp - 256) & ~static_cast<DWORD64>(15);
    context->Rsp -= 8;  // a call leaves the stack 8 bytes below 16-byte alignment
    context->Rip = reinterpret_cast<DWORD64>(&landAfterFault);
    return EXCEPTION_CONTINUE_EXECUTION;
}

HRESULT runCatchingExceptions(GuardedWork work, void* context) noexcept {
    try {
        return work(context);
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace

HRESULT runGuarded(GuardedWork work, void* context) noexcept {
    if (!InitOnceExecuteOnce(&gSlotOnce, allocateSlot, nullptr, nullptr)) return runCatchingExceptions(work, context);
    const DWORD slot = gSlot.load();
    // First in line, so a fault of ours is not mistaken by a host handler for one of its own.
    void* const handler = AddVectoredExceptionHandler(1, onException);
    if (handler == nullptr) return runCatchingExceptions(work, context);
    void* const outer = TlsGetValue(slot);
    JumpBuffer buffer;
    if (__builtin_setjmp(buffer) != 0) {
        TlsSetValue(slot, outer);
        RemoveVectoredExceptionHandler(handler);
        return E_FAIL;
    }
    TlsSetValue(slot, &buffer);
    const HRESULT result = runCatchingExceptions(work, context);
    TlsSetValue(slot, outer);
    RemoveVectoredExceptionHandler(handler);
    return result;
}

ForeignCall::ForeignCall() noexcept : suspended_(nullptr) {
    const DWORD slot = gSlot.load();
    if (slot == TLS_OUT_OF_INDEXES) return;
    suspended_ = TlsGetValue(slot);
    if (suspended_ != nullptr) TlsSetValue(slot, nullptr);
}

ForeignCall::~ForeignCall() {
    if (suspended_ != nullptr) TlsSetValue(gSlot.load(), suspended_);
}

void releaseFaultGuard() noexcept {
    const DWORD slot = gSlot.exchange(TLS_OUT_OF_INDEXES);
    if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
}

}  // namespace cvwin
