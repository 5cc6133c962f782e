#pragma once

#include <atomic>
#include <cstdint>

#include "core/image_data.h"
#include "core/reader.h"
#include "core/render_settings.h"
#include "render/compose_image.h"
#include "render/lane_thread.h"
#include "render/rgb_image.h"
#include "render/statistics.h"
#include "render/stretch.h"

namespace cv {

constexpr std::uint64_t kWorkingMemory = 0x3000000;   // bytes for the accumulator (48 MiB)
constexpr std::uint64_t kMaxBlockBytes = 0x18000000;  // largest block loaded or decoded (384 MiB)

// Told the picture's size as soon as it is fixed, before the samples are
// read, so a caller can make the picture's destination ready meanwhile; told
// on the rendering thread, so it must not block. A render that falls back
// from an embedded thumbnail to the main image tells a second size, and the
// picture has the last size told.
class OutputSizeListener {
public:
    virtual void outputSized(std::uint32_t width, std::uint32_t height) noexcept = 0;

protected:
    ~OutputSizeListener() = default;
};

// What the caller wants drawn; the render profiles fill it.
struct RenderOptions {
    std::uint32_t maxSize = 256;  // longest output side in pixels; 0 is treated as 1
    StretchOptions stretch;
    PeakBlend peaks;
    CfaMode cfaMode = CfaMode::Automatic;
    std::uint32_t maxPasses = 0;  // 0: no limit
    bool smoothPartial = true;
    bool preferEmbeddedThumbnail = false;
    // A second thread may add bands of the passes after the first;
    // only for callers whose renders may use more than the calling thread.
    bool secondThread = false;
    LaneThread* laneThread = nullptr;  // the second lane's thread; null: one of the render's own
    std::uint64_t workingMemory = kWorkingMemory;
    std::uint64_t maxBlockBytes = kMaxBlockBytes;
    std::uint32_t rowsPerRead = 0;               // 0: adaptive
    OutputSizeListener* sizeListener = nullptr;  // null: no one
};

// Nanoseconds of a monotonic clock.
std::int64_t steadyNowNs();
using SteadyClock = std::int64_t (*)();  // steadyNowNs, or a test's own clock

// What a render may spend, fixed for its run; the caller may set the cancel
// flag from another thread. What it spent is in the report. Once the time
// limit is reached no more is read: each read asks the clock first.
struct RenderBudget {
    std::uint32_t timeLimitMs = 0;
    std::uint64_t byteLimit = 0;  // 0 disables the byte check while sampling
    const std::atomic<bool>* cancelFlag = nullptr;
    std::int64_t startTime = 0;  // clock() when the budget started
    SteadyClock clock = steadyNowNs;
};

struct RenderReport {
    std::uint64_t sourceWidth = 0;
    std::uint64_t sourceHeight = 0;
    std::uint32_t sourceChannels = 0;
    std::uint64_t bytesReadHere = 0;  // by the render that drew the picture
    std::uint32_t rowsRead = 0;
    std::uint32_t elapsedMs = 0;
    bool rowsSubsampled = false;
    bool budgetExhausted = false;
    std::uint32_t firstPassRows = 0;
    std::uint32_t largestSkip = 0;
    std::uint32_t setupMs = 0;
    bool smoothed = false;
    bool usedEmbeddedThumbnail = false;
    bool demosaiced = false;
    bool decompressed = false;
    ChannelStatistics statistics;
    StretchParameters stretch;
    float peakWeight = 0.0f;
};

// Draws the image described by `data` (read from `reader` by
// readImageHeader) into `image`, at most options.maxSize on the longer side.
// Ok, or Partial when a budget ended sampling early (the picture is complete
// but coarser, or, when the time ran out before the first pass was over,
// drawn from the rows read by then); TimedOut when the time ran out before
// anything could be drawn; any other status leaves no usable picture.
[[nodiscard]] ReadStatus renderImage(Reader& reader, const ImageData& data,
                                     const RenderOptions& options, const RenderBudget& budget,
                                     RgbImage& image, RenderReport* report = nullptr);

}  // namespace cv
