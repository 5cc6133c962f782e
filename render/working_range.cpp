#include "render/working_range.h"

#include <algorithm>

namespace cv {

Normalization workingNormalization(const ImageBlock& block) {
    const Normalization stored{block.scale, block.offset};
    const auto range = integerRange(block.sampleFormat);
    if (!range) return stored;
    const double a = block.physicalOffset + block.physicalScale * range->min;
    const double b = block.physicalOffset + block.physicalScale * range->max;
    const double low = std::min(a, b);
    const double high = std::max(a, b);
    if (!(low < 0.0 && high > 0.0)) return stored;
    // The offset is formed from the physical one, not by subtracting from
    // the stored offset near 0.5, which would keep none of a small BZERO.
    return {block.scale, static_cast<float>(block.physicalOffset / (high - low))};
}

}  // namespace cv
