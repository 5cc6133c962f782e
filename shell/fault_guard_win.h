#pragma once

#include <windows.h>

namespace cvwin {

using GuardedWork = HRESULT (*)(void* context);

// Runs `work(context)` so that nothing escapes it: a C++ exception gives
// E_FAIL, and so does a processor fault (access violation, division by zero,
// illegal instruction, in-page error ...) raised by the work itself on this
// thread, which a vectored handler turns into a jump back here. After a fault
// the work's destructors have not run: what it allocated leaks, so the fault
// is contained, not cleaned up. A stack overflow is not caught (there is no
// stack left to continue on).
//
// The handler is installed once, on the first guarded call, and removed by
// releaseFaultGuard when the library is unloaded: one left behind would be
// called at the host's next exception, in unmapped memory.
HRESULT runGuarded(GuardedWork work, void* context) noexcept;

// runGuarded for a thread of Corvane's own, with no host frame above the
// work: there a fault anywhere, in a foreign call too, ends the work with
// E_FAIL, since no host code on that thread could handle it.
HRESULT runGuardedOnOwnThread(GuardedWork work, void* context) noexcept;

// Marks a call out of Corvane (the shell's stream, GDI, the registry) for as
// long as it lives: a processor fault raised meanwhile on this thread belongs
// to the code called, which may handle it itself, so the guard lets it pass
// (on a thread of Corvane's own it does not: see runGuardedOnOwnThread),
// after running the guard's cleanups.
class ForeignCall {
public:
    ForeignCall() noexcept;
    ~ForeignCall();
    ForeignCall(const ForeignCall&) = delete;
    ForeignCall& operator=(const ForeignCall&) = delete;

private:
    void* suspended_;  // the guard of this thread, whose faults are the host's meanwhile
};

class FaultCleanup;
void runFaultCleanups(FaultCleanup* first) noexcept;  // the guard's landing, after a fault

// Work that must be done before a faulting guarded call's frames are left,
// while they are still intact: another thread still using them is stopped
// and waited for. While enlisted, a processor fault on this thread runs
// `cleanup(context)` on the faulting thread, once: before the guard's jump
// back, or, for a fault in a foreign call, before the host's handlers see it
// (whatever they then do, the call's frames may be left).
class FaultCleanup {
public:
    using Cleanup = void (*)(void* context);
    FaultCleanup(Cleanup cleanup, void* context) noexcept : cleanup_(cleanup), context_(context) {}
    ~FaultCleanup() { withdraw(); }
    FaultCleanup(const FaultCleanup&) = delete;
    FaultCleanup& operator=(const FaultCleanup&) = delete;

    // Joins the guarded call running on this thread, if there is one. The
    // cleanup must be withdrawn on the same thread before that call returns.
    void enlist() noexcept;
    void withdraw() noexcept;

private:
    friend void runFaultCleanups(FaultCleanup* first) noexcept;
    Cleanup cleanup_;
    void* context_;
    void* guard_ = nullptr;  // the guard enlisted with, or null
    FaultCleanup* next_ = nullptr;
};

// Removes the handler and frees the thread slot; the library calls it when
// it is unloaded, after the shell has released every object.
void releaseFaultGuard() noexcept;

}  // namespace cvwin
