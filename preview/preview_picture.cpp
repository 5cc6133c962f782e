#include "preview/preview_picture.h"

#include "render/clocked_reader.h"
#include "render/render_profiles.h"

namespace cv {

namespace {

bool isGood(ReadStatus status, const RgbImage& picture) {
    return (status == ReadStatus::Ok || status == ReadStatus::Partial) && !picture.empty();
}

std::uint64_t pixelCount(const RgbImage& picture) {
    return std::uint64_t{picture.width} * picture.height;
}

// One pass, with a budget started at `startTime` by `clock`.
ReadStatus renderPass(Reader& reader, const ImageData& data, const RenderSettings& settings,
                      bool quickPass, const std::atomic<bool>* cancel, SteadyClock clock,
                      std::int64_t startTime, LaneThread* laneThread, RgbImage& picture) {
    RenderBudget budget = previewBudget(quickPass, cancel);
    budget.clock = clock;
    budget.startTime = startTime;
    RenderOptions options = previewOptions(quickPass, settings);
    options.secondThread = laneThread != nullptr;
    options.laneThread = laneThread;
    const ReadStatus status = renderImage(reader, data, options, budget, picture);
    if (!isGood(status, picture)) picture = RgbImage{};
    return status == ReadStatus::Partial ? ReadStatus::Ok : status;
}

}  // namespace

ReadStatus loadPreviewPicture(Reader& reader, const RenderSettings& settings,
                              const std::atomic<bool>* cancel, PreviewPicture& result,
                              SteadyClock clock, LaneThread* laneThread) {
    result = PreviewPicture{};
    // The header's reads count against the first pass, whichever it turns out to be; no
    // pass allows more than the full one.
    const std::int64_t started = clock();
    RenderBudget header = previewBudget(false, cancel);
    header.clock = clock;
    header.startTime = started;
    ImageData data;
    if (const ReadStatus status = readHeaderWithinBudget(reader, header, data);
        status != ReadStatus::Ok)
        return status;
    ImageMetadata metadata = extractMetadata(data);

    RgbImage quick;
    const bool quickPass = data.hasThumbnail && isUsable(data.thumbnail);
    if (quickPass) {
        static_cast<void>(
            renderPass(reader, data, settings, true, cancel, clock, started, laneThread, quick));
    }
    const bool cancelled = cancel != nullptr && cancel->load(std::memory_order_relaxed);
    RgbImage full;
    ReadStatus status = cancelled ? ReadStatus::Cancelled
                                  : renderPass(reader, data, settings, false, cancel, clock,
                                               quickPass ? clock() : started, laneThread, full);
    if (quick.empty() && full.empty())
        return status == ReadStatus::Ok ? ReadStatus::Malformed : status;

    const bool quickWins = full.empty() || (!quick.empty() && pixelCount(quick) > pixelCount(full));
    result.picture = std::move(quickWins ? quick : full);
    result.metadata = std::move(metadata);
    return ReadStatus::Ok;
}

}  // namespace cv
