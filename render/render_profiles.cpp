#include "render/render_profiles.h"

namespace cv {

namespace {

RenderOptions commonOptions(const RenderSettings& settings) {
    RenderOptions options;
    options.peakBlend = 0.0f;
    options.peakLow = 1.0f;
    options.peakHigh = 2.0f;
    options.shadowsClipping = -2.8f;
    options.stretchStrength = 1.0f;
    options.linkedChannels = true;
    options.monochrome = false;
    options.targetBackground = targetBackgroundFor(settings.brightness);
    options.autoStretch = settings.autoStretch;
    options.cfaMode = settings.cfaMode;
    options.useEmbeddedThumbnail = true;
    options.workingMemory = 0x3000000;
    options.maxBlockBytes = 0x18000000;
    options.rowsPerRead = 0;
    return options;
}

}  // namespace

RenderOptions thumbnailOptions(std::uint32_t requestedSize, const RenderSettings& settings) {
    RenderOptions options = commonOptions(settings);
    options.maxSize = requestedSize == 0 ? kDefaultThumbnailSize : requestedSize;
    options.preferEmbeddedThumbnail = false;
    options.maxPasses = 0;
    options.smoothPartial = true;
    return options;
}

RenderBudget thumbnailBudget() {
    RenderBudget budget;
    budget.timeLimitMs = kThumbnailTimeLimitMs;
    budget.byteLimit = kThumbnailByteLimit;
    budget.startTime = steadyNowNs();
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
    budget.startTime = steadyNowNs();
    return budget;
}

}  // namespace cv
