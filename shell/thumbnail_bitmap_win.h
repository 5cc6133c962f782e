#pragma once

#include <windows.h>

#include <cstdint>

#include "render/render_image.h"
#include "render/rgb_image.h"
#include "shell/read_ahead_lane_win.h"

namespace cvwin {

// A top-down 32-bit DIB section (B, G, R, 255 per pixel) of the picture;
// null for an empty picture, one larger than 8192 pixels, or a GDI failure.
HBITMAP createThumbnailBitmap(const cv::RgbImage& image);

struct BitmapPreparation;

// The thumbnail's bitmap, made ready on a pool thread while the render
// computes: the system hands a fresh DIB section's memory over one page fault
// per 4 KiB page, which for a picture of megabytes costs about as much as
// the render's own reading. Told the size by the render (the first size told
// is prepared); small pictures get no worker. The worker holds a reference to
// this library and its own share of the bitmap, so it can outlive this object
// safely should it ever not end within the wait. A host that jumps out of the
// render past this object's destructor leaks the bitmap, as the fault guard
// leaks what a faulted render allocated.
class PreparedBitmap final : public cv::OutputSizeListener, public CompetingWorker {
public:
    PreparedBitmap() = default;
    PreparedBitmap(const PreparedBitmap&) = delete;
    PreparedBitmap& operator=(const PreparedBitmap&) = delete;
    ~PreparedBitmap();

    void outputSized(std::uint32_t width, std::uint32_t height) noexcept override;
    // The picture in a bitmap, as createThumbnailBitmap makes it: the one
    // prepared when it has the picture's size, else a new one. Null, too,
    // after a fault on the worker.
    HBITMAP take(const cv::RgbImage& image);
    // Its worker has been asked for, has not yet ended, and is still waited
    // for (take() gives up on one that outlasts the wait).
    bool running() const override;

private:
    BitmapPreparation* preparation_ = nullptr;  // the owner's share, or null
    bool waiting_ = false;                      // for the worker, not yet waited for
};

}  // namespace cvwin
