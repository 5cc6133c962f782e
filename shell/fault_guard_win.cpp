#include "shell/fault_guard_win.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <utility>

namespace cvwin {

namespace {

// GCC's register-only setjmp: no unwinding runs through the faulting frames.
using JumpBuffer = void* [5];

// A guarded call's landing place, in its frame.
struct Guard {
    JumpBuffer buffer;                 // first: the landing is given its address
    bool ownThread;                    // no host frame above it: foreign calls stay guarded
    FaultCleanup* cleanups = nullptr;  // the last enlisted first
};

// While a foreign call is under way the slot holds its guard tagged in the
// lowest bit (a guard is aligned): the guard takes no fault then, but its
// cleanups still run.
constexpr std::uintptr_t kInForeignCall = 1;

void* inForeignCall(Guard* guard) {
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(guard) | kInForeignCall);
}

// The guard a foreign call suspended, or null when the slot holds none.
Guard* suspendedGuard(void* slotValue) {
    const auto bits = reinterpret_cast<std::uintptr_t>(slotValue);
    if ((bits & kInForeignCall) == 0) return nullptr;
    return reinterpret_cast<Guard*>(bits & ~kInForeignCall);
}

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

// The guard taking faults on this thread now: none during a foreign call.
Guard* currentGuard() {
    const DWORD slot = gSlot.load();
    if (slot == TLS_OUT_OF_INDEXES) return nullptr;
    void* value = TlsGetValue(slot);
    return suspendedGuard(value) != nullptr ? nullptr : static_cast<Guard*>(value);
}

// Called as if by the faulting instruction, with the guard in the first
// argument's register, below the faulting frames, which its cleanups may
// still need; then jumps back into runGuarded.
[[noreturn]] void landAfterFault(JumpBuffer* buffer) {
    auto* guard = reinterpret_cast<Guard*>(buffer);
    // Forgotten first: a fault inside a cleanup lands here again and must not rerun the list.
    runFaultCleanups(std::exchange(guard->cleanups, nullptr));
    __builtin_longjmp(*buffer, 1);
}

// The code is looked at first: the host's own exceptions (C++ ones above all)
// pass without any further work here. A guard whose frame lies above the
// faulting stack pointer has returned already (its call was unwound by the
// host), so it is dropped instead of jumped to. A fault in a foreign call is
// the host's to handle, but whatever the host then does (go on, or unwind
// past the guarded call) the cleanups run first, while this thread still
// holds what the call took.
LONG CALLBACK onException(EXCEPTION_POINTERS* exception) {
    if (!isProcessorFault(exception->ExceptionRecord->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    const DWORD slot = gSlot.load(std::memory_order_relaxed);
    if (slot == TLS_OUT_OF_INDEXES) return EXCEPTION_CONTINUE_SEARCH;
    const DWORD lastError =
        GetLastError();  // TlsGetValue resets it; the faulting code may still need it
    void* const value = TlsGetValue(slot);
    SetLastError(lastError);
    if (value == nullptr) return EXCEPTION_CONTINUE_SEARCH;
    CONTEXT* context = exception->ContextRecord;
    Guard* const suspended = suspendedGuard(value);
    auto* guard = suspended != nullptr ? suspended : static_cast<Guard*>(value);
    if (reinterpret_cast<DWORD64>(guard) < context->Rsp) {
        TlsSetValue(slot, nullptr);
        SetLastError(lastError);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (suspended != nullptr) {
        // Once: should the host jump out of its call, the slot is left empty, as no guard runs.
        TlsSetValue(slot, nullptr);
        runFaultCleanups(std::exchange(suspended->cleanups, nullptr));
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
    Guard guard{{}, ownThread, nullptr};
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
    void* value = TlsGetValue(slot);
    if (value == nullptr || suspendedGuard(value) != nullptr) return;
    auto* guard = static_cast<Guard*>(value);
    if (guard->ownThread) return;
    suspended_ = guard;
    TlsSetValue(slot, inForeignCall(guard));
}

ForeignCall::~ForeignCall() {
    if (suspended_ != nullptr) TlsSetValue(gSlot.load(), suspended_);
}

// Each cleanup is forgotten before it runs: the guard's frame is about to be left.
void runFaultCleanups(FaultCleanup* first) noexcept {
    for (FaultCleanup* cleanup = first; cleanup != nullptr;) {
        FaultCleanup* next = cleanup->next_;
        cleanup->guard_ = nullptr;
        cleanup->next_ = nullptr;
        cleanup->cleanup_(cleanup->context_);
        cleanup = next;
    }
}

void FaultCleanup::enlist() noexcept {
    withdraw();
    Guard* guard = currentGuard();
    if (guard == nullptr) return;
    next_ = guard->cleanups;
    guard->cleanups = this;
    guard_ = guard;
}

// Only from the guard still running on this thread: one that has returned
// (or was unwound by the host) is gone with its list.
void FaultCleanup::withdraw() noexcept {
    auto* guard = static_cast<Guard*>(guard_);
    if (guard == nullptr) return;
    guard_ = nullptr;
    if (guard != currentGuard()) {
        next_ = nullptr;
        return;
    }
    for (FaultCleanup** link = &guard->cleanups; *link != nullptr; link = &(*link)->next_) {
        if (*link == this) {
            *link = next_;
            break;
        }
    }
    next_ = nullptr;
}

void releaseFaultGuard() noexcept {
    if (void* handler = gHandler.exchange(nullptr)) RemoveVectoredExceptionHandler(handler);
    const DWORD slot = gSlot.exchange(TLS_OUT_OF_INDEXES);
    if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
}

}  // namespace cvwin
