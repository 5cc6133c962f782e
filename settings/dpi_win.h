#pragma once

#include <windows.h>

namespace cvwin {

constexpr int kDefaultDpi = 96;

// Per-monitor awareness where the system offers it (not under Wine, which
// starts every process aware), the older call otherwise.
inline void becomeDpiAware() {
    using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    const auto set = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (set == nullptr || !set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) SetProcessDPIAware();
}

// The screen's DPI, for windows not yet made.
inline int screenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDefaultDpi;
}

inline int windowDpi(HWND window) {
    const UINT dpi = GetDpiForWindow(window);
    return dpi != 0 ? static_cast<int>(dpi) : screenDpi();
}

// 1/96-inch units at `dpi`.
inline int scaledToDpi(int units, int dpi) {
    return MulDiv(units, dpi, kDefaultDpi);
}

}  // namespace cvwin
