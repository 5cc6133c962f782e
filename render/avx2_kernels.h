#pragma once

// AVX2 versions of the pixel loops, compiled for x86-64 and chosen at
// run time (render/instruction_set.h). Each handles the leading part of a row
// in whole vectors and computes every value with the same operations, in the
// same order, as the baseline loop that finishes the row.

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/image_data.h"
#include "render/stretch.h"

#if defined(__x86_64__)
#define CORVANE_AVX2_KERNELS 1
#else
#define CORVANE_AVX2_KERNELS 0
#endif

#if CORVANE_AVX2_KERNELS
namespace cv::avx2 {

// Converts the leading multiple of 8 samples to raw * scale + offset; returns
// how many it converted (0 for the 64-bit formats, which stay scalar).
std::size_t convertSamples(const unsigned char* source, std::size_t count, SampleFormat format,
                           bool swap, float scale, float offset, float* destination);

// Adds the sum of each box [starts[i], ends[i]) of `values` to sums[i] and,
// unless `maxima` is null, raises maxima[i] to its brightest value.
void reduceBoxes(const float* values, const std::uint32_t* starts, const std::uint32_t* ends,
                 std::uint32_t boxes, float* sums, float* maxima);

// The leading multiple of 8 cells of one colour: the mean of the `used` cell
// positions listed (1 to 4); returns how many cells it wrote.
std::size_t averagePositions(const float* first, const float* second, std::size_t cells,
                             const std::array<std::uint8_t, 4>& positions, std::size_t used,
                             float* out);

// The leading multiple of 8 of a row's box means (sums / counts) through
// `curve`, as display bytes; returns how many it wrote (0 for a stepped curve).
std::size_t toneRow(const float* sums, const float* counts, std::size_t width,
                    const ToneCurve& curve, std::uint8_t* bytes);

}  // namespace cv::avx2
#endif
