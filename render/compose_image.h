#pragma once

#include "render/box_accumulator.h"
#include "render/rgb_image.h"
#include "render/stretch.h"

namespace cv {

// Blending box maxima into box means, so that stars smaller than a box keep
// their brightness. Both profiles pass a blend of 0.
struct PeakBlend {
    float blend = 0.0f;
    float low = 1.0f;  // thresholds in units of the expected noise peak
    float high = 2.0f;
};

// Writes the stretched picture at the accumulator's size; rows that got no
// samples are interpolated from their filled neighbours. `noiseSigma` is the
// channels' mean noise sigma, in working units. Returns the weight
// the box maxima were blended in with: 0 when the accumulator kept none.
float composeImage(const BoxAccumulator& accumulator, const StretchParameters& parameters,
                   const PeakBlend& peaks, float noiseSigma, RgbImage& image);

// Fills each row without samples from the nearest filled rows above and below.
void fillEmptyRows(const std::vector<bool>& filled, RgbImage& image);

}  // namespace cv
