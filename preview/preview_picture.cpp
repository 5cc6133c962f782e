#include "preview/preview_picture.h"

#include "formats/image_header.h"
#include "render/render_profiles.h"

namespace cv {

namespace {

bool isGood(ReadStatus status, const RgbImage& picture) {
    return (status == ReadStatus::Ok || status == ReadStatus::Partial) && !picture.empty();
}

std::uint64_t pixelCount(const RgbImage& picture) {
    return std::uint64_t{picture.width} * picture.height;
}

ReadStatus renderPass(Reader& reader, const ImageData& data, const RenderSettings& settings,
                      bool quickPass, const std::atomic<bool>* cancel, RgbImage& picture) {
    RenderBudget budget = previewBudget(quickPass, cancel);
    const ReadStatus status =
        renderImage(reader, data, previewOptions(quickPass, settings), budget, picture);
    if (!isGood(status, picture)) picture = RgbImage{};
    return status == ReadStatus::Partial ? ReadStatus::Ok : status;
}

}  // namespace

ReadStatus loadPreviewPicture(Reader& reader, const RenderSettings& settings,
                              const std::atomic<bool>* cancel, PreviewPicture& result) {
    result = PreviewPicture{};
    ImageData data;
    if (const ReadStatus status = readImageHeader(reader, data); status != ReadStatus::Ok)
        return status;
    ImageMetadata metadata = extractMetadata(data);

    RgbImage quick;
    if (data.hasThumbnail && isUsable(data.thumbnail)) {
        static_cast<void>(renderPass(reader, data, settings, true, cancel, quick));
    }
    const bool cancelled = cancel != nullptr && cancel->load(std::memory_order_relaxed);
    RgbImage full;
    ReadStatus status =
        cancelled ? ReadStatus::Cancelled : renderPass(reader, data, settings, false, cancel, full);
    if (quick.empty() && full.empty())
        return status == ReadStatus::Ok ? ReadStatus::Malformed : status;

    const bool quickWins = full.empty() || (!quick.empty() && pixelCount(quick) > pixelCount(full));
    result.picture = std::move(quickWins ? quick : full);
    result.metadata = std::move(metadata);
    return ReadStatus::Ok;
}

}  // namespace cv
