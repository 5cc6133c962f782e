#pragma once

#include <windows.h>

namespace cvwin {

// Makes Explorer's thumbnail handler and asks it for `riid` (the class
// factory's creation function). It reads the stream's header, renders with
// the user's settings, stamps the format label when asked, returns a bitmap.
HRESULT createThumbnailProvider(REFIID riid, void** object);

}  // namespace cvwin
