#pragma once

#include <atomic>
#include <cstdint>

#include "core/image_data.h"
#include "core/reader.h"
#include "core/render_settings.h"
#include "render/rgb_image.h"
#include "render/statistics.h"
#include "render/stretch.h"

namespace cv {

// What the caller wants drawn; every caller fills all of it.
struct RenderOptions {
    std::uint32_t maxSize = 256;  // longest output side in pixels; 0 is treated as 1
    float peakBlend = 0.0f;       // blending of box maxima into means; 0 disables
    float peakLow = 1.0f;         // thresholds of that blending, in expected noise peaks
    float peakHigh = 2.0f;
    float shadowsClipping = -2.8f;
    float targetBackground = 0.25f;
    bool linkedChannels = true;
    bool autoStretch = true;
    float stretchStrength = 1.0f;
    bool monochrome = false;
    CfaMode cfaMode = CfaMode::Automatic;
    bool useEmbeddedThumbnail = true;
    std::uint32_t maxPasses = 0;  // 0: no limit
    bool smoothPartial = true;
    bool preferEmbeddedThumbnail = false;
    std::uint64_t workingMemory = 0x3000000;   // bytes for the accumulator (48 MiB)
    std::uint64_t maxBlockBytes = 0x18000000;  // largest block loaded or decoded (384 MiB)
    std::uint32_t rowsPerRead = 0;             // 0: adaptive
    // A second thread may add the lower bands of the passes after the first.
    // Not on Windows: there renders run under a fault guard that holds for the
    // calling thread alone.
#if defined(_WIN32)
    bool secondThread = false;
#else
    bool secondThread = true;
#endif
};

// Time and bytes a render may spend; shared with the caller, who may set the
// cancel flag from another thread.
struct RenderBudget {
    std::uint32_t timeLimitMs = 0;
    std::uint64_t byteLimit = 0;  // 0 disables the byte check while sampling
    const std::atomic<bool>* cancelFlag = nullptr;
    std::int64_t startTime = 0;  // steadyNowNs() when the budget started
    std::uint64_t bytesRead = 0;
};

// Nanoseconds of a monotonic clock.
std::int64_t steadyNowNs();

struct RenderReport {
    std::uint64_t sourceWidth = 0;
    std::uint64_t sourceHeight = 0;
    std::uint32_t sourceChannels = 0;
    std::uint64_t bytesReadHere = 0;
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
// but coarser); any other status leaves no usable picture.
[[nodiscard]] ReadStatus renderImage(Reader& reader, const ImageData& data, const RenderOptions& options,
                                     RenderBudget& budget, RgbImage& image, RenderReport* report = nullptr);

}  // namespace cv
