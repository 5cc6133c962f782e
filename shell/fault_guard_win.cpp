#include "shell/fault_guard_win.h"

#include <atomic>
#include <exception>

namespace cvwin {

namespace {

// GCC's register-only setjmp: no unwinding runs through the faulting frames.
using JumpBuffer = void* [5];

// A guarded call's landing place, in its frame.
struct Guard {
    JumpBuffer buffer;
    bool ownThread;  // no host frame above it: foreign calls stay guarded
};

// The guard of each thread lives in a system TLS slot rather than in a C++
// thread_local: mingw allocates thread_locals on first use, and the handler
// runs for faults on any thread, where reading one could allocate inside
// another thread's access violation. TlsGetValue never allocates.
//
// One handler serves every guarded call of this load. It is removed when the
// library is unloaded rather than after each call: a host may unwind past a
// guarded call (an __except above GetThumbnail catching a fault raised in
// its own stream), and no code of ours would run to remove a per-call one.
INIT_ONCE gInstallOnce = INIT_ONCE_STATIC_INIT;
std::atomic<DWORD> gSlot{TLS_OUT_OF_INDEXES};
std::atomic<void*> gHandler{nullptr};

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
        case EXCEPTION_FLT_INVALID_OPERATION:
            return true;
        default:
            return false;
    }
}

// Called as if by the faulting instruction, with the guard in the first
// argument's register, and jumps back into runGuarded.
[[noreturn]] void landAfterFault(JumpBuffer* guard) {
    __builtin_longjmp(*guard, 1);
}

// The code is looked at first: the host's own exceptions (C++ ones above all)
// pass without any further work here. A guard whose frame lies above the
// faulting stack pointer has returned already (its call was unwound by the
// host), so it is dropped instead of jumped to.
LONG CALLBACK onException(EXCEPTION_POINTERS* exception) {
    if (!isProcessorFault(exception->ExceptionRecord->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    const DWORD slot = gSlot.load(std::memory_order_relaxed);
    if (slot == TLS_OUT_OF_INDEXES) return EXCEPTION_CONTINUE_SEARCH;
    const DWORD lastError =
        GetLastError();  // TlsGetValue resets it; the faulting code may still need it
    auto* guard = static_cast<Guard*>(TlsGetValue(slot));
    SetLastError(lastError);
    if (guard == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    CONTEXT* context = exception->ContextRecord;
    if (reinterpret_cast<DWORD64>(guard) < context->Rsp) {
        TlsSetValue(slot, nullptr);
        SetLastError(lastError);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    context->Rsp = (context->Rsp - 256) & ~static_cast<DWORD64>(15);
    context->Rsp -= 8;  // a call leaves the stack 8 bytes below 16-byte alignment
    context->Rcx = reinterpret_cast<DWORD64>(&guard->buffer);
    context->Rip = reinterpret_cast<DWORD64>(&landAfterFault);
    return EXCEPTION_CONTINUE_EXECUTION;
}

BOOL CALLBACK install(INIT_ONCE*, void*, void**) {
    const DWORD slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) return FALSE;
    gSlot.store(slot);
    // First in line, so a fault of ours is not mistaken by a host handler for one of its own.
    void* handler = AddVectoredExceptionHandler(1, onException);
    if (handler == nullptr) {
        gSlot.store(TLS_OUT_OF_INDEXES);
        TlsFree(slot);
        return FALSE;
    }
    gHandler.store(handler);
    return TRUE;
}

HRESULT runCatchingExceptions(GuardedWork work, void* context) noexcept {
    try {
        return work(context);
    } catch (...) {
        return E_FAIL;
    }
}

// Puts back the thread's outer guard however the call ends, an unwinding by
// the host included (cleanups run then).
class GuardScope {
public:
    GuardScope(DWORD slot, void* outer) : slot_(slot), outer_(outer) {}
    ~GuardScope() { TlsSetValue(slot_, outer_); }
    GuardScope(const GuardScope&) = delete;
    GuardScope& operator=(const GuardScope&) = delete;

private:
    DWORD slot_;
    void* outer_;
};

// The work itself, in a frame of its own below the jump buffer's, so that a
// jump back after a fault passes over no object of runGuarded's.
HRESULT runInScope(DWORD slot, void* outer, GuardedWork work, void* context) noexcept {
    const GuardScope scope(slot, outer);
    return runCatchingExceptions(work, context);
}

HRESULT runWithGuard(GuardedWork work, void* context, bool ownThread) noexcept {
    if (!InitOnceExecuteOnce(&gInstallOnce, install, nullptr, nullptr))
        return runCatchingExceptions(work, context);
    const DWORD slot = gSlot.load();
    void* const outer = TlsGetValue(slot);
    Guard guard{{}, ownThread};
    if (__builtin_setjmp(guard.buffer) != 0) {
        TlsSetValue(slot, outer);
        return E_FAIL;
    }
    // The slot may need memory of its own on first use; without it, no fault guard.
    if (!TlsSetValue(slot, &guard)) return runCatchingExceptions(work, context);
    return runInScope(slot, outer, work, context);
}

}  // namespace

HRESULT runGuarded(GuardedWork work, void* context) noexcept {
    return runWithGuard(work, context, false);
}

HRESULT runGuardedOnOwnThread(GuardedWork work, void* context) noexcept {
    return runWithGuard(work, context, true);
}

ForeignCall::ForeignCall() noexcept : suspended_(nullptr) {
    const DWORD slot = gSlot.load();
    if (slot == TLS_OUT_OF_INDEXES) return;
    auto* guard = static_cast<Guard*>(TlsGetValue(slot));
    if (guard == nullptr || guard->ownThread) return;
    suspended_ = guard;
    TlsSetValue(slot, nullptr);
}

ForeignCall::~ForeignCall() {
    if (suspended_ != nullptr) TlsSetValue(gSlot.load(), suspended_);
}

void releaseFaultGuard() noexcept {
    if (void* handler = gHandler.exchange(nullptr)) RemoveVectoredExceptionHandler(handler);
    const DWORD slot = gSlot.exchange(TLS_OUT_OF_INDEXES);
    if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
}

}  // namespace cvwin
