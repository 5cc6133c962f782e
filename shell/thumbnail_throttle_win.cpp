#include "shell/thumbnail_throttle_win.h"

#include <algorithm>
#include <atomic>

namespace cvwin {

namespace {

constexpr DWORD kThrottleWaitMs = 10000;
constexpr DWORD kMaxConcurrentThumbnails = 4;

// Kept in user space: a slot is given back and taken again around every
// read, which a kernel semaphore would make a round trip each (to Wine's
// server, under Wine). Statically initialised, so nothing is left to free
// when the library unloads.
SRWLOCK gLock = SRWLOCK_INIT;
CONDITION_VARIABLE gSlotFreed = CONDITION_VARIABLE_INIT;
DWORD gSlotsTaken = 0;

// Asked once: a slot is taken again after every read, and under Wine the
// question costs more than the read's own bookkeeping. Zero until then, so it
// is initialised statically and nothing is left to free.
std::atomic<DWORD> gSlotCount{0};

// Thumbnails asked for and not yet returned, waiting for a slot or not: the
// slots taken change around every read, these only per thumbnail.
std::atomic<DWORD> gThumbnailsAsked{0};

DWORD slotCount() {
    DWORD slots = gSlotCount.load(std::memory_order_relaxed);
    if (slots != 0) return slots;
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    slots = std::clamp<DWORD>(system.dwNumberOfProcessors, 1, kMaxConcurrentThumbnails);
    gSlotCount.store(slots, std::memory_order_relaxed);
    return slots;
}

bool takeSlot() {
    const DWORD slots = slotCount();
    const ULONGLONG deadline = GetTickCount64() + kThrottleWaitMs;
    AcquireSRWLockExclusive(&gLock);
    bool taken = false;
    for (;;) {
        if (gSlotsTaken < slots) {
            ++gSlotsTaken;
            taken = true;
            break;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        // A wake-up may be spurious or lose the race: the loop asks again.
        SleepConditionVariableSRW(&gSlotFreed, &gLock, static_cast<DWORD>(deadline - now), 0);
    }
    ReleaseSRWLockExclusive(&gLock);
    return taken;
}

void giveSlotBack() {
    AcquireSRWLockExclusive(&gLock);
    --gSlotsTaken;
    ReleaseSRWLockExclusive(&gLock);
    WakeConditionVariable(&gSlotFreed);
}

// Counted as asked for before the wait for a slot: a thumbnail waiting wants a processor too.
bool askForSlot() {
    gThumbnailsAsked.fetch_add(1);
    return takeSlot();
}

}  // namespace

bool processorSpare() {
    return gThumbnailsAsked.load(std::memory_order_relaxed) < slotCount();
}

ThrottleSlot::ThrottleSlot() : held_(askForSlot()) {}

ThrottleSlot::~ThrottleSlot() {
    if (held_) giveSlotBack();
    gThumbnailsAsked.fetch_sub(1);
}

void ThrottleSlot::beforeBlockingCall() {
    if (held_) giveSlotBack();
    held_ = false;
}

void ThrottleSlot::afterBlockingCall() {
    held_ = takeSlot();
}

}  // namespace cvwin
