#pragma once

#include <windows.h>

#include "render/rgb_image.h"

namespace cvwin {

// Makes Explorer's thumbnail handler and asks it for `riid` (the class
// factory's creation function). It reads the stream's header, renders with
// the user's settings, stamps the format label when asked, returns a bitmap.
HRESULT createThumbnailProvider(REFIID riid, void** object);

// A top-down 32-bit DIB section (B, G, R, 255 per pixel) of the picture;
// null for an empty picture, one larger than 8192 pixels, or a GDI failure.
HBITMAP createThumbnailBitmap(const cv::RgbImage& image);

}  // namespace cvwin
