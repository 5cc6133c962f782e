#pragma once

#include "render/box_accumulator.h"
#include "render/rgb_image.h"
#include "render/stretch.h"

namespace cv {

// Options for blending box maxima into box means, so that stars smaller than
// a box keep their brightness. Both callers pass a blend of 0.
struct PeakBlend {
    float blend = 0.0f;
    float noiseSigma = 0.0f;  // mean noise sigma of the channels, in working units
    float low = 1.0f;         // thresholds in units of the expected noise peak
    float high = 2.0f;
};

// Writes the stretched picture at the accumulator's size; rows that got no
// samples are interpolated from their filled neighbours. Returns the weight
// the box maxima were blended in with: 0 when the accumulator kept none.
float composeImage(const BoxAccumulator& accumulator, const StretchParameters& parameters,
                  const PeakBlend& peaks, RgbImage& image);

// Fills each row without samples from the nearest filled rows above and below.
void fillEmptyRows(const std::vector<bool>& filled, RgbImage& image);

}  // namespace cv
