#pragma once

#include <cstddef>

#include "core/image_data.h"

namespace cv {

// Converts `count` raw samples to working values raw * scale + offset.
// Multi-byte samples are little-endian unless `bigEndian`; non-finite
// floating-point samples and results become 0. False for a null pointer or
// a format outside the table.
bool convertRow(const void* raw, std::size_t count, SampleFormat format, bool bigEndian,
                float scale, float offset, float* destination);

}  // namespace cv
