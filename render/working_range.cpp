#include "render/working_range.h"

#include <algorithm>
#include <cmath>

namespace cv {

namespace {

SampleFormat unsignedOfSameWidth(SampleFormat format) {
    switch (format) {
        case SampleFormat::Int8:
            return SampleFormat::UInt8;
        case SampleFormat::Int16:
            return SampleFormat::UInt16;
        case SampleFormat::Int32:
            return SampleFormat::UInt32;
        case SampleFormat::Int64:
            return SampleFormat::UInt64;
        default:
            return format;
    }
}

}  // namespace

Normalization workingNormalization(const ImageBlock& block) {
    const Normalization stored{block.scale, block.offset};
    const auto range = integerRange(block.sampleFormat);
    if (!range) return stored;
    const double a = block.physicalOffset + block.physicalScale * range->min;
    const double b = block.physicalOffset + block.physicalScale * range->max;
    if (!(std::min(a, b) < 0.0 && std::max(a, b) > 0.0)) return stored;
    // Physical values at the unsigned type's own scale. The offset is formed
    // from the physical one, not by subtracting from the stored offset near
    // 0.5, which would keep none of a small BZERO.
    const double twinScale = defaultNormalization(unsignedOfSameWidth(block.sampleFormat)).scale;
    const Normalization working{static_cast<float>(block.physicalScale * twinScale),
                                static_cast<float>(block.physicalOffset * twinScale)};
    // An absurd BSCALE or BZERO overflows single precision; infinite factors
    // would mix NaN into the samples, which nothing can order.
    if (!std::isfinite(working.scale) || !std::isfinite(working.offset)) return stored;
    return working;
}

}  // namespace cv
