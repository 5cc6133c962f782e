#pragma once

#include <array>
#include <cstdint>

#include "render/statistics.h"

namespace cv {

// The part of the render options that shapes the tone curve.
struct StretchOptions {
    float shadowsClipping = -2.8f;  // in noise sigmas; negative is below the median
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

constexpr std::size_t kLookupEntries = 4096;

// The tone curve of one channel over working values.
struct LookupTable {
    std::array<float, kLookupEntries> entries{};
    float low = 0.0f;
    float scale = 0.0f;  // 1 / (high - low), 0 when the range is empty
};

// The midtones transfer function: the curve through (0,0), (m,0.5), (1,1).
float midtonesTransfer(float midtones, float x);

StretchParameters computeStretch(const ChannelStatistics& statistics, const StretchOptions& options);
LookupTable buildLookupTable(const StretchParameters& parameters, std::uint32_t channel);
float lookup(const LookupTable& table, float value);
float peakWeight(const StretchParameters& parameters, std::uint32_t channels, float peakBlend);

}  // namespace cv
