#pragma once

#include "formats/image_header.h"
#include "render/render_profiles.h"

namespace cvtest {

constexpr std::uint32_t kUnhurriedMs = 600000;  // no picture here may depend on the machine's speed

// A file drawn as the thumbnail provider or the preview pane's full pass draws it.
inline cv::ReadStatus renderAsShellDoes(cv::Reader& reader, bool preview, cv::RgbImage& image) {
    cv::ImageData data;
    cv::ReadStatus status = cv::readImageHeader(reader, data);
    if (status != cv::ReadStatus::Ok) return status;
    const cv::RenderSettings settings;
    cv::RenderBudget budget = preview ? cv::previewBudget(false, nullptr) : cv::thumbnailBudget();
    budget.timeLimitMs = kUnhurriedMs;
    auto options =
        preview ? cv::previewOptions(false, settings) : cv::thumbnailOptions(256, settings);
    options.rowsPerRead = 1;  // adaptive reading follows the machine's speed
    return cv::renderImage(reader, data, options, budget, image);
}

}  // namespace cvtest
