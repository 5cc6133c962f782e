#pragma once

#include <windows.h>

#include <functional>

namespace cvtest {

inline constexpr DWORD kPumpLimitMs = 20000;  // generous: a stuck preview fails rather than hangs

// Dispatches the thread's messages until `done` holds or the limit passes.
inline bool pumpUntil(const std::function<bool()>& done) {
    const ULONGLONG end = GetTickCount64() + kPumpLimitMs;
    while (!done()) {
        if (GetTickCount64() > end) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    }
    return true;
}

}  // namespace cvtest
