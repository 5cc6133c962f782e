#include "shell/server_win.h"

namespace cvwin {

namespace {

volatile LONG gObjects = 0;
volatile LONG gLocks = 0;
HINSTANCE gModule = nullptr;

// An atomic read: compare-exchange with equal values changes nothing.
LONG readCount(volatile LONG& count) {
    return InterlockedCompareExchange(&count, 0, 0);
}

}  // namespace

void objectCreated() {
    InterlockedIncrement(&gObjects);
}
void objectDestroyed() {
    InterlockedDecrement(&gObjects);
}

void lockServer(bool lock) {
    if (lock)
        InterlockedIncrement(&gLocks);
    else
        InterlockedDecrement(&gLocks);
}

bool canUnloadNow() {
    return readCount(gObjects) == 0 && readCount(gLocks) == 0;
}

HINSTANCE moduleHandle() {
    return gModule;
}
void setModuleHandle(HINSTANCE module) {
    gModule = module;
}

}  // namespace cvwin
