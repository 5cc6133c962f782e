#include "render/stretch.h"

#include <algorithm>
#include <cmath>

namespace cv {

namespace {

constexpr float kFullStretchMidtones = 0.02f;  // at or below: a linear image, stretched fully
constexpr float kSparedMidtones = 0.1f;        // at or above: already bright, left nearly alone

// NaN goes to 0, as the vector minimum and maximum also send it.
float clampUnit(float v) {
    const float above = v > 0.0f ? v : 0.0f;
    return above < 1.0f ? above : 1.0f;
}

struct ChannelCurve {
    float shadows = 0.0f;
    float midtones = 0.5f;
    float highlights = 1.0f;
};

constexpr float kLinearPosition = 0.1f;      // median this low in the data's own range: linear
constexpr float kProcessedPosition = 0.16f;  // at or above: the midtones alone decide
constexpr float kNoiseLimitedSigmas = 4.0f;  // a linear sky's darkest 0.1 % lie ~3 sigmas below it
constexpr float kSpreadFullSpan = 0.35f;  // spared data spanning less are spread over the display
constexpr float kSpreadNoneSpan = 0.5f;   // and from this span on not at all

// Where the data themselves lie, in the normalised range.
struct DataPoints {
    float low = 0.0f;
    float high = 1.0f;
};

// 0 at or below `from`, 1 at or above `to`, smooth in between.
float smoothStep(float from, float to, float t) {
    const float u = std::clamp((t - from) / (to - from), 0.0f, 1.0f);
    return (3.0f - 2.0f * u) * u * u;
}

float weightByMidtones(float midtones) {
    if (midtones <= kFullStretchMidtones) return 1.0f;
    if (midtones >= kSparedMidtones) return 0.0f;
    const float t = (std::log(midtones) - std::log(kFullStretchMidtones)) /
                    (std::log(kSparedMidtones) - std::log(kFullStretchMidtones));
    return 1.0f - smoothStep(0.0f, 1.0f, t);
}

// How fully the stretch applies, 1 for linear data: bright midtones alone
// do not make an image processed. A linear sky, however bright a pedestal or
// a gradient makes it, keeps its median near the bottom of the data's own
// range and within a few noise sigmas of its darkest pixels; a stretched
// picture lifts its median higher, or clips its black point far below it.
float linearWeight(float midtones, float median, float sigma, const DataPoints& points) {
    const float byMidtones = weightByMidtones(midtones);
    const bool noiseLimited = median <= 0.5f && median - points.low <= kNoiseLimitedSigmas * sigma;
    if (!noiseLimited || !(points.high > points.low)) return byMidtones;
    const float position = (median - points.low) / (points.high - points.low);
    return std::max(byMidtones, 1.0f - smoothStep(kLinearPosition, kProcessedPosition, position));
}

// Fades the stretch out for images that are already processed. Fully spared,
// the curve keeps the midtones and spreads the data's own range over the
// display when they fill little of it, so a dim picture is not drawn murky.
void spareProcessedImage(ChannelCurve& curve, float median, float sigma, const DataPoints& points,
                         float strength) {
    const float m = curve.midtones;
    const float w = linearWeight(m, median, sigma, points);
    const float k = std::clamp(1.0f - (1.0f - w) * strength, 0.0f, 1.0f);
    if (k >= 1.0f) return;
    const float span = points.high - points.low;
    const float spread =
        span > 0.0f ? 1.0f - smoothStep(kSpreadFullSpan, kSpreadNoneSpan, span) : 0.0f;
    const float black = std::clamp(points.low, 0.0f, 1.0f) * spread;
    const float white = 1.0f - (1.0f - std::clamp(points.high, 0.0f, 1.0f)) * spread;
    const float base = m < 0.5f ? m : 1.0f - m;
    const float spared = std::pow(0.5f, 1.0f - k) * std::pow(base, k);
    curve.midtones = m < 0.5f ? spared : 1.0f - spared;
    curve.shadows = black + (curve.shadows - black) * k;
    curve.highlights = white + (curve.highlights - white) * k;
}

ChannelCurve curveFor(float median, float sigma, const DataPoints& points,
                      const StretchOptions& options) {
    ChannelCurve curve;
    const float d = sigma * options.shadowsClipping;
    if (median <= 0.5f) {
        curve.shadows = std::clamp(median + d, 0.0f, 1.0f);
        curve.highlights = 1.0f;
        curve.midtones = midtonesTransfer(options.targetBackground, median - curve.shadows);
    } else {
        curve.shadows = 0.0f;
        curve.highlights = std::clamp(median - d, 0.0f, 1.0f);
        curve.midtones =
            1.0f - midtonesTransfer(options.targetBackground, curve.highlights - median);
    }
    if (options.stretchStrength > 0.0f)
        spareProcessedImage(curve, median, sigma, points, options.stretchStrength);
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

StretchParameters computeStretch(const ChannelStatistics& statistics,
                                 const StretchOptions& options) {
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
    const DataPoints points{statistics.dataLow, statistics.dataHigh};
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
                                            sigma / static_cast<float>(valid), points, options);
        for (std::uint32_t c = 0; c < 4; ++c) store(parameters, c, curve);
        return parameters;
    }
    for (std::uint32_t c = 0; c < channels; ++c) {
        if (statistics.channelValid[c]) {
            store(parameters, c,
                  curveFor(statistics.median[c], statistics.sigma[c], points, options));
        }
    }
    return parameters;
}

ToneCurve toneCurve(const StretchParameters& parameters, std::uint32_t channel) {
    ToneCurve curve;
    curve.low = parameters.low;
    const float range = parameters.high - parameters.low;
    curve.scale = range > 0.0f ? 1.0f / range : 0.0f;
    if (parameters.identity) return curve;  // shadows 0, span 1, midtones 0.5: y = x exactly
    const std::uint32_t set = (!parameters.linked && channel < 4) ? channel : 0;
    const float c0 = parameters.shadows[set];
    const float h = parameters.highlights[set];
    const float m = parameters.midtones[set];
    curve.shadows = c0;
    curve.inverseSpan = h > c0 ? 1.0f / (h - c0) : 0.0f;
    if (m <= 0.0f || m >= 1.0f) {
        curve.stepped = true;
        curve.stepAt = m <= 0.0f ? 0.0f : std::nextafter(1.0f, 0.0f);
        return curve;
    }
    curve.midtones = m;
    curve.midtonesLess1 = m - 1.0f;
    curve.twiceLess1 = 2.0f * m - 1.0f;
    return curve;
}

// The midtones transfer written with no branch for m = 0.5, which it gives
// exactly (y = -0.5x / -0.5), so the vector loops can use the same formula.
float applyCurve(const ToneCurve& curve, float value) {
    const float t = clampUnit((value - curve.low) * curve.scale);
    const float x = clampUnit((t - curve.shadows) * curve.inverseSpan);
    if (curve.stepped) return x > curve.stepAt ? 1.0f : 0.0f;
    return (curve.midtonesLess1 * x) / (curve.twiceLess1 * x - curve.midtones);
}

std::uint8_t displayByte(float level) {
    return static_cast<std::uint8_t>(clampUnit(level) * 255.0f + 0.5f);
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
