#pragma once

#include <cstdint>

#include "core/render_settings.h"
#include "render/render_image.h"

namespace cv {

constexpr std::uint32_t kDefaultThumbnailSize = 256;  // pixels, when the shell asks for 0
constexpr std::uint32_t kMaxThumbnailSide = 8192;     // pixels; larger requests get this size
constexpr std::uint32_t kPreviewSize = 1400;          // pixels
constexpr std::uint32_t kThumbnailTimeLimitMs = 4000;
constexpr std::uint64_t kThumbnailByteLimit = 0x8000000;  // 128 MiB
constexpr std::uint32_t kPreviewQuickTimeLimitMs = 1500;
constexpr std::uint32_t kPreviewFullTimeLimitMs = 15000;
constexpr std::uint64_t kPreviewByteLimit = 0x30000000;  // 768 MiB
constexpr std::uint32_t kPreviewPasses = 3;

// The options and budgets of the thumbnail provider and of the preview's two
// passes; the budget's clock starts when it is made.
RenderOptions thumbnailOptions(std::uint32_t requestedSize, const RenderSettings& settings);
RenderBudget thumbnailBudget();
RenderOptions previewOptions(bool quickPass, const RenderSettings& settings);
RenderBudget previewBudget(bool quickPass, const std::atomic<bool>* cancelFlag);

}  // namespace cv
