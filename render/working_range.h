#pragma once

#include "core/image_data.h"

namespace cv {

// How a render turns a block's raw samples into working values. Integer
// types whose stored range reaches below physical zero (signed integers,
// unsigned ones with a negative BZERO) are normalised over that whole range,
// which puts physical zero mid-way: a non-negative image would sit pale in
// the upper half, and a narrow one be lost in single precision near 0.5. The
// render puts physical zero at 0 instead, as the unsigned type of the same
// width stores the same values; negative data stay negative. Every other
// block keeps its own scale and offset.
Normalization workingNormalization(const ImageBlock& block);

}  // namespace cv
