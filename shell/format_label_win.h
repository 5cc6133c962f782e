#pragma once

#include <cstdint>

#include "core/image_data.h"
#include "render/rgb_image.h"

namespace cvwin {

// Stamps "XISF", "FITS" or "VM" as a chamfered badge into a corner (0 top
// left, 1 top right, 2 bottom left, 3 bottom right). False, with the image
// untouched, for other kinds, a badge that does not fit, or a GDI failure.
bool drawFormatLabel(cv::RgbImage& image, cv::FileKind kind, std::uint32_t corner);

}  // namespace cvwin
