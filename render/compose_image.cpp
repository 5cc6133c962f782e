#include "render/compose_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/avx2_kernels.h"
#include "render/instruction_set.h"

namespace cv {

namespace {

struct PixelContext {
    const BoxAccumulator& accumulator;
    const std::vector<ToneCurve>& curves;
    float weight;  // peak weight of the stretch
    float scale;   // 1 / (high - low), or 0
    bool detectPeaks;
    const PeakBlend& peaks;
    float noiseSigma;
};

float boxValue(const PixelContext& context, std::uint32_t channel, std::uint32_t row,
               std::uint32_t column, std::uint32_t n, float threshold) {
    const float mean = context.accumulator.sum(channel, row, column) / static_cast<float>(n);
    const float a = applyCurve(context.curves[channel], mean);
    const float maximum = context.accumulator.maximum(channel, row, column);
    const float b = applyCurve(context.curves[channel], maximum);
    float q = 1.0f;
    if (threshold != 0.0f) {
        const float e = (maximum - mean) * context.scale;
        const float lo = threshold * context.peaks.low;
        const float hi = threshold * context.peaks.high;
        if (hi > lo)
            q = std::clamp((e - lo) / (hi - lo), 0.0f, 1.0f);
        else
            q = e > lo ? 1.0f : 0.0f;
    }
    return a + (b - a) * context.weight * q;
}

// Every box with its peak blended in: per pixel, as few pictures ask for it.
void composeWithPeaks(const PixelContext& context, bool colour, std::vector<bool>& filled,
                      RgbImage& image) {
    const BoxAccumulator& accumulator = context.accumulator;
    for (std::uint32_t y = 0; y < accumulator.outHeight; ++y) {
        std::uint8_t* out = image.row(y);
        for (std::uint32_t x = 0; x < accumulator.outWidth; ++x, out += 3) {
            const std::uint32_t n = accumulator.count(y, x);
            if (n == 0) continue;
            filled[y] = true;
            const float threshold =
                (context.detectPeaks && n >= 2)
                    ? std::sqrt(2.0f * std::log(static_cast<float>(n))) * context.noiseSigma
                    : 0.0f;
            if (colour) {
                for (std::uint32_t c = 0; c < 3; ++c)
                    out[c] = displayByte(boxValue(context, c, y, x, n, threshold));
            } else {
                const std::uint8_t grey = displayByte(boxValue(context, 0, y, x, n, threshold));
                out[0] = out[1] = out[2] = grey;
            }
        }
    }
}

// One channel's row of box means through its curve, as display bytes.
void toneRow(const float* sums, const float* counts, std::size_t width, const ToneCurve& curve,
             std::uint8_t* bytes) {
    std::size_t x = 0;
#if CORVANE_AVX2_KERNELS
    if (activeInstructionSet() == InstructionSet::Avx2)
        x = avx2::toneRow(sums, counts, width, curve, bytes);
#endif
    for (; x < width; ++x) bytes[x] = displayByte(applyCurve(curve, sums[x] / counts[x]));
}

// Box means only, a row at a time. Every box of a row takes the same rows,
// so a row either has samples in all its boxes or in none.
void composeMeans(const BoxAccumulator& accumulator, const std::vector<ToneCurve>& curves,
                  bool colour, std::vector<bool>& filled, RgbImage& image) {
    const std::size_t width = accumulator.outWidth;
    const std::uint32_t channels = colour ? 3 : 1;
    std::vector<float> counts(width);
    std::vector<std::uint8_t> bytes(width * channels);
    for (std::uint32_t y = 0; y < accumulator.outHeight; ++y) {
        if (accumulator.rowsAdded[y] == 0) continue;
        filled[y] = true;
        for (std::uint32_t x = 0; x < width; ++x)
            counts[x] = static_cast<float>(accumulator.count(y, x));
        for (std::uint32_t c = 0; c < channels; ++c) {
            toneRow(&accumulator.sums[accumulator.index(c, y, 0)], counts.data(), width, curves[c],
                    bytes.data() + c * width);
        }
        std::uint8_t* out = image.row(y);
        for (std::size_t x = 0; x < width; ++x, out += 3) {
            for (std::uint32_t c = 0; c < 3; ++c) out[c] = bytes[(colour ? c : 0) * width + x];
        }
    }
}

}  // namespace

float composeImage(const BoxAccumulator& accumulator, const StretchParameters& parameters,
                   const PeakBlend& peaks, float noiseSigma, RgbImage& image) {
    if (!resizeRgbImage(image, accumulator.outWidth, accumulator.outHeight)) return 0.0f;
    std::vector<ToneCurve> curves;
    curves.reserve(accumulator.channels);
    for (std::uint32_t c = 0; c < accumulator.channels; ++c)
        curves.push_back(toneCurve(parameters, c));
    const float range = parameters.high - parameters.low;
    const float scale = range > 0.0f ? 1.0f / range : 0.0f;
    const float weight = accumulator.maxima.empty()
                             ? 0.0f
                             : peakWeight(parameters, accumulator.channels, peaks.blend);
    const bool colour = accumulator.channels >= 3;

    std::vector<bool> filled(accumulator.outHeight, false);
    if (weight == 0.0f) {
        composeMeans(accumulator, curves, colour, filled, image);
    } else {
        const PixelContext context{
            accumulator, curves,    weight, scale, noiseSigma > 0.0f && scale > 0.0f,
            peaks,       noiseSigma};
        composeWithPeaks(context, colour, filled, image);
    }
    fillEmptyRows(filled, image);
    return weight;
}

void fillEmptyRows(const std::vector<bool>& filled, RgbImage& image) {
    const std::size_t rowBytes = static_cast<std::size_t>(image.width) * 3;
    // Nearest filled row at or below each row, so the fill stays linear in height.
    std::vector<std::int64_t> nextFilled(image.height + 1, -1);
    for (std::int64_t y = static_cast<std::int64_t>(image.height) - 1; y >= 0; --y) {
        const auto row = static_cast<std::size_t>(y);
        nextFilled[row] = filled[row] ? y : nextFilled[row + 1];
    }
    std::int64_t previous = -1;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        if (filled[y]) {
            previous = y;
            continue;
        }
        const std::int64_t next = nextFilled[y];
        if (previous < 0 && next < 0) return;  // nothing was filled anywhere
        std::uint8_t* out = image.row(y);
        if (previous < 0 || next < 0) {
            const auto source = static_cast<std::uint32_t>(previous < 0 ? next : previous);
            std::memcpy(out, image.row(source), rowBytes);
            continue;
        }
        const std::uint8_t* above = image.row(static_cast<std::uint32_t>(previous));
        const std::uint8_t* below = image.row(static_cast<std::uint32_t>(next));
        const std::int64_t span = next - previous;
        const std::int64_t along = y - previous;
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const std::int64_t delta = static_cast<std::int64_t>(below[i]) - above[i];
            out[i] = static_cast<std::uint8_t>(above[i] + delta * along / span);
        }
    }
}

}  // namespace cv
