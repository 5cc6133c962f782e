#pragma once

#include <windows.h>

#include <cstdint>

namespace cvwin {

// The header of an uncompressed device-independent bitmap whose rows run top
// to bottom (a negative height says so).
inline BITMAPINFO topDownBitmapInfo(std::uint32_t width, std::uint32_t height, WORD bitsPerPixel) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bitsPerPixel;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

}  // namespace cvwin
