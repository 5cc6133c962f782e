#pragma once

#include <windows.h>
#include <propsys.h>
#include <thumbcache.h>

#include "render/rgb_image.h"
#include "shell/stream_adapter_win.h"

namespace cvwin {

// Makes a thumbnail provider and asks it for `riid` (the class factory's
// creation function).
HRESULT createThumbnailProvider(REFIID riid, void** object);

// Closes the process-wide throttle; the library calls it when unloaded.
void releaseThumbnailThrottle();

// A top-down 32-bit DIB section (B, G, R, 255 per pixel) of the picture;
// null for an empty picture, one larger than 8192 pixels, or a GDI failure.
HBITMAP createThumbnailBitmap(const cv::RgbImage& image);

// Explorer's thumbnail handler: reads the stream's header, renders with the
// user's settings, stamps the format label when asked, returns a bitmap.
class ThumbnailProvider final : public IThumbnailProvider, public IInitializeWithStream {
public:
    ThumbnailProvider();
    ThumbnailProvider(const ThumbnailProvider&) = delete;
    ThumbnailProvider& operator=(const ThumbnailProvider&) = delete;

    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;
    IFACEMETHODIMP GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;
    IFACEMETHODIMP Initialize(IStream* stream, DWORD mode) override;

private:
    ~ThumbnailProvider();
    static HRESULT runPipeline(void* context);

    volatile LONG references_ = 1;
    StreamAdapter source_;
    bool initialized_ = false;
};

}  // namespace cvwin
