#include "render/stretch.h"

#include <algorithm>
#include <cmath>

namespace cv {

namespace {

constexpr float kFullStretchMidtones = 0.02f;   // at or below: a linear image, stretched fully
constexpr float kSparedMidtones = 0.1f;         // at or above: already bright, left nearly alone
constexpr float kMaxLookupIndex = static_cast<float>(kLookupEntries - 1);

struct ChannelCurve {
    float shadows = 0.0f;
    float midtones = 0.5f;
    float highlights = 1.0f;
};

// Fades the stretch out for images whose midtones show they are already bright.
void spareBrightImage(ChannelCurve& curve, float strength) {
    const float m = curve.midtones;
    float w = 0.0f;
    if (m <= kFullStretchMidtones) {
        w = 1.0f;
    } else if (m < kSparedMidtones) {
        const float t = (std::log(m) - std::log(kFullStretchMidtones)) /
                        (std::log(kSparedMidtones) - std::log(kFullStretchMidtones));
        w = 1.0f - (3.0f - 2.0f * t) * t * t;
    }
    const float k = std::clamp(1.0f - (1.0f - w) * strength, 0.0f, 1.0f);
    if (k >= 1.0f) return;
    const float base = m < 0.5f ? m : 1.0f - m;
    const float spared = std::pow(0.5f, 1.0f - k) * std::pow(base, k);
    curve.midtones = m < 0.5f ? spared : 1.0f - spared;
    curve.shadows *= k;
    curve.highlights = 1.0f - (1.0f - curve.highlights) * k;
}

ChannelCurve curveFor(float median, float sigma, const StretchOptions& options) {
    ChannelCurve curve;
    const float d = sigma * options.shadowsClipping;
    if (median <= 0.5f) {
        curve.shadows = std::clamp(median + d, 0.0f, 1.0f);
        curve.highlights = 1.0f;
        curve.midtones = midtonesTransfer(options.targetBackground, median - curve.shadows);
    } else {
        curve.shadows = 0.0f;
        curve.highlights = std::clamp(median - d, 0.0f, 1.0f);
        curve.midtones = 1.0f - midtonesTransfer(options.targetBackground, curve.highlights - median);
    }
    if (options.stretchStrength > 0.0f) spareBrightImage(curve, options.stretchStrength);
    if (!(curve.highlights > curve.shadows)) curve = ChannelCurve{};
    return curve;
}

void store(StretchParameters& parameters, std::uint32_t channel, const ChannelCurve& curve) {
    parameters.shadows[channel] = curve.shadows;
    parameters.midtones[channel] = curve.midtones;
    parameters.highlights[channel] = curve.highlights;
}

}  // namespace

float midtonesTransfer(float midtones, float x) {
    if (x <= 0.0f) return 0.0f;
    if (x >= 1.0f) return 1.0f;
    if (midtones <= 0.0f) return 1.0f;
    if (midtones >= 1.0f) return 0.0f;
    if (midtones == 0.5f) return x;
    const float denominator = (2.0f * midtones - 1.0f) * x - midtones;
    if (denominator == 0.0f) return x;
    return (midtones - 1.0f) * x / denominator;
}

StretchParameters computeStretch(const ChannelStatistics& statistics, const StretchOptions& options) {
    StretchParameters parameters;
    parameters.linked = options.linkedChannels;
    parameters.low = statistics.low;
    parameters.high = statistics.high;
    const std::uint32_t channels = std::min(statistics.channels, kMaxStatisticsChannels);
    bool anyUsable = false;
    for (std::uint32_t c = 0; c < channels; ++c) {
        anyUsable = anyUsable || (statistics.channelValid[c] && statistics.sigma[c] > 0.0f);
    }
    if (!options.autoStretch || !statistics.valid || channels == 0 || !anyUsable) {
        parameters.identity = true;
        return parameters;
    }
    if (options.linkedChannels) {
        float median = 0.0f;
        float sigma = 0.0f;
        std::uint32_t valid = 0;
        for (std::uint32_t c = 0; c < channels; ++c) {
            if (!statistics.channelValid[c]) continue;
            median += statistics.median[c];
            sigma += statistics.sigma[c];
            ++valid;
        }
        const ChannelCurve curve = curveFor(median / static_cast<float>(valid),
                                            sigma / static_cast<float>(valid), options);
        for (std::uint32_t c = 0; c < 4; ++c) store(parameters, c, curve);
        return parameters;
    }
    for (std::uint32_t c = 0; c < channels; ++c) {
        if (statistics.channelValid[c]) {
            store(parameters, c, curveFor(statistics.median[c], statistics.sigma[c], options));
        }
    }
    return parameters;
}

LookupTable buildLookupTable(const StretchParameters& parameters, std::uint32_t channel) {
    LookupTable table;
    table.low = parameters.low;
    const float range = parameters.high - parameters.low;
    table.scale = range > 0.0f ? 1.0f / range : 0.0f;
    const std::uint32_t set = (!parameters.linked && channel < 4) ? channel : 0;
    const float c0 = parameters.shadows[set];
    const float h = parameters.highlights[set];
    const float m = parameters.midtones[set];
    const float r = h > c0 ? 1.0f / (h - c0) : 0.0f;
    for (std::size_t i = 0; i < kLookupEntries; ++i) {
        const float level = static_cast<float>(i) / kMaxLookupIndex;
        if (parameters.identity) {
            table.entries[i] = level;
            continue;
        }
        const float x = std::clamp((level - c0) * r, 0.0f, 1.0f);
        if (x <= 0.0f) {
            table.entries[i] = 0.0f;
        } else if (x >= 1.0f || m <= 0.0f) {
            table.entries[i] = 1.0f;
        } else {
            table.entries[i] = midtonesTransfer(m, x);
        }
    }
    return table;
}

float lookup(const LookupTable& table, float value) {
    const float t = (value - table.low) * table.scale;
    if (!(t > 0.0f)) return table.entries[0];
    if (t >= 1.0f) return table.entries[kLookupEntries - 1];
    const float index = std::floor(t * kMaxLookupIndex + 0.5f);
    if (index < 1.0f) return table.entries[0];
    if (index >= static_cast<float>(kLookupEntries)) return table.entries[kLookupEntries - 1];
    return table.entries[static_cast<std::size_t>(index)];
}

float peakWeight(const StretchParameters& parameters, std::uint32_t channels, float peakBlend) {
    if (parameters.identity) return 0.0f;
    float mean = parameters.midtones[0];
    if (!parameters.linked && channels > 0) {
        const std::uint32_t sets = std::min(channels, 4u);
        float total = 0.0f;
        for (std::uint32_t c = 0; c < sets; ++c) total += parameters.midtones[c];
        mean = total / static_cast<float>(sets);
    }
    const float w = std::clamp(1.0f - 2.0f * mean, 0.0f, 1.0f);
    return std::clamp(w * w * w * std::clamp(peakBlend, 0.0f, 1.0f), 0.0f, 1.0f);
}

}  // namespace cv
