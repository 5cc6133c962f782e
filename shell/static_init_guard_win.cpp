// The guards of function-local statics (the C++ ABI's __cxa_guard_*), for
// this library alone. The runtime's own build of them, on winpthreads, makes
// at its first use on a thread a record of that thread (an event and a copy
// of the thread's handle) and two mutexes, none of which any call gives back:
// a host that loads and unloads the library would keep them all, once per
// load. A slim lock and a condition variable hold nothing to give back.
#include <windows.h>

#include <cstdint>
#include <exception>

namespace {

SRWLOCK gGuards = SRWLOCK_INIT;
CONDITION_VARIABLE gGuardEnded = CONDITION_VARIABLE_INIT;

// The ABI's 64-bit guard: its first byte says "initialised" and is read by
// the compiler's own code, with acquire order, before any call; its second
// word is ours: the thread running the initialisation, 0 for none.
struct Guard {
    unsigned char initialised;
    unsigned char unused[3];
    DWORD initialisingThread;
};
static_assert(sizeof(Guard) == sizeof(std::int64_t));

Guard& guardOf(std::int64_t* guard) {
    return *reinterpret_cast<Guard*>(guard);
}

bool isInitialised(const Guard& guard) {
    return __atomic_load_n(&guard.initialised, __ATOMIC_ACQUIRE) != 0;
}

void endInitialisation(Guard& guard, bool initialised) {
    AcquireSRWLockExclusive(&gGuards);
    guard.initialisingThread = 0;
    if (initialised) __atomic_store_n(&guard.initialised, 1, __ATOMIC_RELEASE);
    ReleaseSRWLockExclusive(&gGuards);
    WakeAllConditionVariable(&gGuardEnded);
}

}  // namespace

// 1 when the caller is to run the initialisation, 0 when it has run. Another
// thread's initialisation is waited for without a bound, as the language
// requires: there is nothing else to return.
extern "C" int __cxa_guard_acquire(std::int64_t* raw) {
    Guard& guard = guardOf(raw);
    if (isInitialised(guard)) return 0;
    AcquireSRWLockExclusive(&gGuards);
    if (guard.initialisingThread == GetCurrentThreadId())
        std::terminate();  // recursive initialisation
    while (!isInitialised(guard) && guard.initialisingThread != 0)
        SleepConditionVariableSRW(&gGuardEnded, &gGuards, INFINITE, 0);
    const bool ours = !isInitialised(guard);
    if (ours) guard.initialisingThread = GetCurrentThreadId();
    ReleaseSRWLockExclusive(&gGuards);
    return ours ? 1 : 0;
}

extern "C" void __cxa_guard_release(std::int64_t* raw) {
    endInitialisation(guardOf(raw), true);
}

// The initialisation threw: the next caller tries again.
extern "C" void __cxa_guard_abort(std::int64_t* raw) {
    endInitialisation(guardOf(raw), false);
}
