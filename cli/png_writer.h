#pragma once

#include <string>

#include "render/rgb_image.h"

namespace corvane_cli {

// Writes an 8-bit RGB PNG. The file appears only when it is complete: it is
// written beside the target and renamed into place.
bool writePng(const cv::RgbImage& image, const std::string& path);

}  // namespace corvane_cli
