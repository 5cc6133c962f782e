#pragma once

#include <cstdint>
#include <string>

#include "core/render_settings.h"

namespace corvane_cli {

struct ThumbnailOptions {
    std::string path;
    std::string output;
    std::uint32_t size = 256;  // 0 means the provider's default
    bool preview = false;      // the preview's full pass instead of a thumbnail
    bool report = false;
    cv::RenderSettings settings;
};

// Renders as the thumbnail provider (or the preview) does and writes a PNG;
// returns the exit code. A failed render writes no file.
int runThumbnail(const ThumbnailOptions& options);

}  // namespace corvane_cli
