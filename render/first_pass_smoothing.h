#pragma once

#include <cstdint>

#include "render/rgb_image.h"

namespace cv {

// A picture whose first pass visited only `rowsVisited` of its rows (evenly
// spread, the rest filled in between) is box-reduced to that many rows and
// enlarged back bilinearly, so a coarse first pass shows as soft rather than
// banded. Pictures with fewer than 24 such rows, or with nine in ten or more,
// are left alone. Returns whether the picture was smoothed.
bool smoothThinFirstPass(RgbImage& image, std::uint64_t rowsVisited);

}  // namespace cv
