#pragma once

#include <cstdint>

#include "core/image_data.h"
#include "core/render_settings.h"
#include "render/rgb_image.h"

namespace cvwin {

// Stamps "XISF", "FITS" or "VM" as a chamfered badge into a corner. False, with the image
// untouched, for other kinds, a badge that does not fit, or a GDI failure.
bool drawFormatLabel(cv::RgbImage& image, cv::FileKind kind, cv::LabelCorner corner);

}  // namespace cvwin
