#pragma once

#include <array>
#include <cstdint>

#include "render/statistics.h"

namespace cv {

// The part of the render options that shapes the tone curve.
struct StretchOptions {
    float shadowsClipping = -2.8f;   // in noise sigmas; negative is below the median
    float targetBackground = 0.25f;  // display level of the median
    bool linkedChannels = true;
    bool autoStretch = true;
    float stretchStrength = 1.0f;  // how far already-bright images are spared
};

// Shadows clipping, midtones balance and highlights clipping per channel,
// in the normalised range [low, high] of the statistics.
struct StretchParameters {
    std::array<float, 4> shadows = {0.0f, 0.0f, 0.0f, 0.0f};
    std::array<float, 4> midtones = {0.5f, 0.5f, 0.5f, 0.5f};
    std::array<float, 4> highlights = {1.0f, 1.0f, 1.0f, 1.0f};
    bool linked = false;
    bool identity = false;
    float low = 0.0f;
    float high = 1.0f;
};

// The tone curve of one channel over working values, in the form evaluated
// per value: each output level comes from the curve itself, so smooth data
// never break into bands however little of the range they use.
struct ToneCurve {
    float low = 0.0f;
    float scale = 0.0f;  // 1 / (high - low), 0 when the range is empty
    float shadows = 0.0f;
    float inverseSpan = 1.0f;     // 1 / (highlights - shadows)
    float midtones = 0.5f;        // strictly between 0 and 1 unless `stepAt` is used
    float midtonesLess1 = -0.5f;  // midtones - 1
    float twiceLess1 = 0.0f;      // 2 * midtones - 1
    bool stepped = false;         // a midtones of 0 or 1: 1 above `stepAt`, else 0
    float stepAt = 0.0f;
};

// The midtones transfer function: the curve through (0,0), (m,0.5), (1,1).
float midtonesTransfer(float midtones, float x);

StretchParameters computeStretch(const ChannelStatistics& statistics,
                                 const StretchOptions& options);
ToneCurve toneCurve(const StretchParameters& parameters, std::uint32_t channel);
// The display level, 0..1, of one working value: NaN shows as 0.
float applyCurve(const ToneCurve& curve, float value);
// 0..1 as a display byte, rounded to the nearest level.
std::uint8_t displayByte(float level);
float peakWeight(const StretchParameters& parameters, std::uint32_t channels, float peakBlend);

}  // namespace cv
