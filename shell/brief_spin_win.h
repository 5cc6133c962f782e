#pragma once

#include <windows.h>

namespace cvwin {

// Waking a sleeping thread costs tens of microseconds on a virtual
// machine, about what a band takes to read or add, or a turn at the stream
// lasts: a waiter spins about as long as a sleep and a wake-up take together
// before it sleeps, so two threads hand work over without sleeping, and the
// one that sleeps loses at most twice the least it could. Not longer: where
// the machine's processors are shared with others, a spinning thread takes
// time from the one it waits for (with 25 microseconds a Float32 frame's
// bands were handed over asleep, 12 % slower; with 100 and more, a busy
// machine's mosaics slowed).
constexpr LONGLONG kBriefSpinMicroseconds = 60;
constexpr int kSpinsPerClockLook = 64;

// Asks `done` until it holds, for at most the brief spin; whether it held.
template <typename Done>
bool spinBriefly(Done done) {
    if (done()) return true;
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const LONGLONG spinEnd = now.QuadPart + frequency.QuadPart * kBriefSpinMicroseconds / 1000000;
    for (int spin = 1;; ++spin) {
        YieldProcessor();
        if (done()) return true;
        if (spin % kSpinsPerClockLook != 0) continue;
        QueryPerformanceCounter(&now);
        if (now.QuadPart >= spinEnd) return false;
    }
}

}  // namespace cvwin
