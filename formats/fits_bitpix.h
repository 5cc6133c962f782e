#pragma once

#include <cstdint>

#include "core/image_data.h"

namespace cv {

// The sample format a FITS BITPIX (or ZBITPIX) names; None for any other value.
SampleFormat sampleFormatForBitpix(std::int64_t bitpix);

}  // namespace cv
