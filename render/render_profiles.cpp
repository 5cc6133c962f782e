#include "render/render_profiles.h"

#include <algorithm>

namespace cv {

namespace {

RenderOptions commonOptions(const RenderSettings& settings) {
    RenderOptions options;
    options.stretch.targetBackground = targetBackgroundFor(settings.brightness);
    options.stretch.autoStretch = settings.autoStretch;
    options.cfaMode = settings.cfaMode;
    return options;
}

}  // namespace

RenderOptions thumbnailOptions(std::uint32_t requestedSize, const RenderSettings& settings) {
    RenderOptions options = commonOptions(settings);
    // A size past the largest bitmap is served at the largest rather than refused.
    options.maxSize =
        requestedSize == 0 ? kDefaultThumbnailSize : std::min(requestedSize, kMaxThumbnailSide);
    options.preferEmbeddedThumbnail = false;
    options.maxPasses = 0;
    options.smoothPartial = true;
    return options;
}

RenderBudget thumbnailBudget() {
    RenderBudget budget;
    budget.timeLimitMs = kThumbnailTimeLimitMs;
    budget.byteLimit = kThumbnailByteLimit;
    budget.startTime = budget.clock();
    return budget;
}

RenderOptions previewOptions(bool quickPass, const RenderSettings& settings) {
    RenderOptions options = commonOptions(settings);
    options.maxSize = kPreviewSize;
    options.preferEmbeddedThumbnail = quickPass;
    options.maxPasses = kPreviewPasses;
    options.smoothPartial = !quickPass;
    return options;
}

RenderBudget previewBudget(bool quickPass, const std::atomic<bool>* cancelFlag) {
    RenderBudget budget;
    budget.timeLimitMs = quickPass ? kPreviewQuickTimeLimitMs : kPreviewFullTimeLimitMs;
    budget.byteLimit = kPreviewByteLimit;
    budget.cancelFlag = cancelFlag;
    budget.startTime = budget.clock();
    return budget;
}

}  // namespace cv
