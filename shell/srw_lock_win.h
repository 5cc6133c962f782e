#pragma once

#include <windows.h>

namespace cvwin {

// An SRW lock held, exclusively or shared, for as long as the object lives.
template <void(WINAPI* Acquire)(PSRWLOCK), void(WINAPI* Release)(PSRWLOCK)>
class HeldSrwLock {
public:
    explicit HeldSrwLock(SRWLOCK& lock) : lock_(lock) { Acquire(&lock_); }
    ~HeldSrwLock() { Release(&lock_); }
    HeldSrwLock(const HeldSrwLock&) = delete;
    HeldSrwLock& operator=(const HeldSrwLock&) = delete;

private:
    SRWLOCK& lock_;
};

using ExclusiveLock = HeldSrwLock<AcquireSRWLockExclusive, ReleaseSRWLockExclusive>;
using SharedLock = HeldSrwLock<AcquireSRWLockShared, ReleaseSRWLockShared>;

}  // namespace cvwin
