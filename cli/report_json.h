#pragma once

#include <nlohmann/json.hpp>

#include "core/read_status.h"
#include "render/render_image.h"

namespace corvane_cli {

// The render report with its own field names, plus status and picture size.
nlohmann::ordered_json reportJson(cv::ReadStatus status, const cv::RgbImage& image,
                                  const cv::RenderReport& report);

}  // namespace corvane_cli
