#include "render/render_image.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <new>
#include <optional>

#include "core/text_utils.h"
#include "render/bayer.h"
#include "render/budget_clock.h"
#include "render/clocked_reader.h"
#include "render/first_pass_smoothing.h"
#include "render/pass_sampler.h"
#include "render/row_reader.h"
#include "render/sample_source.h"
#include "render/sampling_state.h"
#include "render/working_range.h"

namespace cv {

namespace {

constexpr std::uint32_t kMaxPlanningSize = 512;  // above: plan with 4 x the byte limit
constexpr std::uint64_t kLargePlanFactor = 4;

// One render of one block: choose it, load it, lay it out, sample it in
// passes, then stretch and compose the picture.
class RenderJob {
public:
    RenderJob(Reader& reader, const ImageData& data, const RenderOptions& options,
              const RenderBudget& budget, std::uint64_t bytesSoFar, bool mayUseThumbnail)
        : reader_(reader),
          data_(data),
          options_(options),
          budget_(budget),
          mayUseThumbnail_(mayUseThumbnail),
          clocked_(reader, budget),
          bytesAtStart_(bytesSoFar) {
        main_.bytesRead = bytesSoFar;
    }

    ReadStatus run(RgbImage& image, RenderReport* report);

private:
    ReadStatus chooseBlock();
    ReadStatus checkpoint() const;
    std::optional<BayerPattern> mosaicPattern(std::uint64_t rowBytes);
    ReadStatus layOut(std::uint64_t rowBytes, std::optional<BayerPattern> mosaic);
    ReadStatus prepareSampling(std::uint64_t rowBytes, std::uint64_t planeBytes);
    bool mayUseMainInstead(ReadStatus status) const;
    ReadStatus renderMainInstead(RgbImage& image, RenderReport* report);
    void display(RgbImage& image);
    void fillReport(RenderReport& report) const;

    Reader& reader_;
    const ImageData& data_;
    const RenderOptions& options_;
    const RenderBudget& budget_;
    const bool mayUseThumbnail_;
    ClockedReader clocked_;  // every read of the render, refused once the time is up
    SampleSource source_;    // before the lane, whose rows may come from it
    RowLane main_;
    const std::uint64_t bytesAtStart_;
    const BudgetClock clock_{budget_, main_.bytesRead};

    const ImageBlock* block_ = nullptr;
    Normalization working_;
    bool usedThumbnail_ = false;
    std::optional<RowReader> rows_;
    std::optional<SamplingState> sampling_;
    std::optional<PassSampler> passes_;

    bool smoothed_ = false;
    StretchParameters stretch_;
    ChannelStatistics statistics_;
    float peakWeight_ = 0.0f;
};

ReadStatus RenderJob::chooseBlock() {
    const ImageBlock& main = data_.image;
    if (main.width == 0 || main.height == 0 || main.channels == 0 ||
        main.sampleFormat == SampleFormat::None) {
        return ReadStatus::Malformed;
    }
    const ImageBlock& thumb = data_.thumbnail;
    const bool thumbnailUsable = data_.hasThumbnail && thumb.width != 0 && thumb.height != 0 &&
                                 thumb.channels != 0 && thumb.sampleFormat != SampleFormat::None;
    usedThumbnail_ = mayUseThumbnail_ && thumbnailUsable &&
                     (options_.preferEmbeddedThumbnail || thumb.width >= options_.maxSize ||
                      thumb.height >= options_.maxSize);
    block_ = usedThumbnail_ ? &thumb : &main;
    working_ = workingNormalization(*block_);
    if (bytesPerSample(block_->sampleFormat) == 0) return ReadStatus::Unsupported;
    return ReadStatus::Ok;
}

// Between the pieces of loading a block or decoding tiles (on either lane:
// it reads only the cancel flag and the clock): the caller may stop us, and
// a load that runs past the hard time limit has no picture worth waiting for.
ReadStatus RenderJob::checkpoint() const {
    if (clock_.cancelled()) return ReadStatus::Cancelled;
    if (clock_.pastHardLimit()) return ReadStatus::TimedOut;
    return ReadStatus::Ok;
}

// The colour pattern when a single-channel main image is drawn as a mosaic.
std::optional<BayerPattern> RenderJob::mosaicPattern(std::uint64_t rowBytes) {
    const ImageBlock& block = *block_;
    if (usedThumbnail_ || block.channels != 1 || options_.cfaMode == CfaMode::AlwaysMono)
        return std::nullopt;
    std::string patternText;
    if (hasBayerPattern(data_)) {
        if (options_.cfaMode == CfaMode::Automatic &&
            frameTypeMatches(data_, kColorlessFrameWords)) {
            return std::nullopt;
        }
        patternText = data_.cfaPattern;
    } else if (options_.cfaMode == CfaMode::AlwaysColor &&
               probeBayer(source_.samples(), source_.start(), rowBytes, block.width, block.height,
                          block.sampleFormat, block.bigEndian, working_.scale, working_.offset)) {
        patternText = "RGGB";
    } else {
        return std::nullopt;
    }
    if (block.width < 2 || block.height < 2) return std::nullopt;
    return parseBayerPattern(patternText);
}

// The output size, the plan of passes and the lane's rows; Malformed when
// the samples do not hold every row.
ReadStatus RenderJob::layOut(std::uint64_t rowBytes, std::optional<BayerPattern> mosaic) {
    const ImageBlock& block = *block_;
    const RowReader& reader = rows_.emplace(block, working_, mosaic);
    const std::uint64_t cells = mosaic ? block.height / 2 : block.height;
    const bool colour = mosaic || (block.channels >= 3 && block.colorSpace == ColorSpace::RGB);
    const std::uint32_t outChannels = colour ? 3 : 1;
    const std::uint32_t planes = mosaic ? 1 : outChannels;

    const auto planeBytes = safeMultiply(rowBytes, block.height);
    const auto total = planeBytes ? safeMultiply(*planeBytes, planes) : std::nullopt;
    if (!total) return ReadStatus::TooLarge;
    const Reader& samples = source_.samples();
    if (source_.start() > samples.size() || *total > samples.size() - source_.start())
        return ReadStatus::Malformed;

    OutputSize out = fitOutput(reader.cellWidth(), cells, options_.maxSize);
    fitMemory(out, outChannels, options_.workingMemory);
    if (options_.sizeListener != nullptr) options_.sizeListener->outputSized(out.width, out.height);
    const std::uint64_t planning = options_.maxSize <= kMaxPlanningSize
                                       ? budget_.byteLimit
                                       : budget_.byteLimit * kLargePlanFactor;
    // A working row of a mosaic is a pair of file rows, and each visit reads both.
    const std::uint64_t bytesPerWorkingRow = rowBytes * planes * reader.rowsPerCell();
    SamplingState& s = sampling_.emplace(
        options_, budget_, clock_, main_, reader,
        SamplingPlan(cells, out.height, *total, planning, bytesPerWorkingRow, bytesPerWorkingRow));
    s.out = out;
    s.cells = cells;
    s.rowBytes = rowBytes;
    s.planes = planes;
    const ReadStatus status =
        prepareAccumulator(s.accumulator, out.width, out.height, outChannels, reader.cellWidth(),
                           options_.workingMemory, options_.peaks.blend > 0.0f);
    if (status != ReadStatus::Ok) return status;
    prepareSampler(s.sampler, outChannels);
    return prepareSampling(rowBytes, *planeBytes);
}

ReadStatus RenderJob::prepareSampling(std::uint64_t rowBytes, std::uint64_t planeBytes) {
    SamplingState& s = *sampling_;
    s.rowsPerCall = PassSampler::rowsPerCall(rowBytes, options_.rowsPerRead, rows_->mosaic());
    const std::uint64_t bandSlots =
        (s.plan.perBand() - 1) * rows_->rowsPerCell() * s.planes;  // a band, every plane
    const bool everyPass = options_.maxPasses == 0 || options_.maxPasses >= s.plan.perBand();
    const bool bandsFit = everyPass && !s.plan.subsampled() && bandSlots >= 1 &&
                          bandSlots <= kMaxFetchBytes / rowBytes;
    s.bandSlots = bandsFit ? static_cast<std::size_t>(bandSlots) : 0;
    const std::size_t slots = std::max(s.rowsPerCall, s.bandSlots);
    try {
        main_.source = makeRowSource(source_.samples(),
                                     {source_.start(), rowBytes, planeBytes, s.planes}, slots);
        rows_->prepare(main_);
        main_.rows.reserve(slots);
        passes_.emplace(s);
    } catch (const std::bad_alloc&) {
        return ReadStatus::TooLarge;
    }
    return ReadStatus::Ok;
}

void RenderJob::display(RgbImage& image) {
    statistics_ = computeStatistics(sampling_->sampler);
    StretchOptions stretch = options_.stretch;
    stretch.linkedChannels = stretch.linkedChannels && !rows_->mosaic();
    // Calibration frames always get the full stretch.
    if (frameTypeMatches(data_, kCalibrationFrameWords)) stretch.stretchStrength = 0.0f;
    stretch_ = computeStretch(statistics_, stretch);

    float sigmaSum = 0.0f;
    std::uint32_t sigmaCount = 0;
    for (std::uint32_t c = 0; c < statistics_.channels; ++c) {
        if (!statistics_.channelValid[c]) continue;
        sigmaSum += statistics_.sigma[c];
        ++sigmaCount;
    }
    const float noiseSigma = sigmaCount > 0 ? sigmaSum / static_cast<float>(sigmaCount) : 0.0f;
    peakWeight_ = composeImage(sampling_->accumulator, stretch_, options_.peaks, noiseSigma, image);
}

void RenderJob::fillReport(RenderReport& report) const {
    auto clamp32 = [](std::uint64_t v) {
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(v, std::numeric_limits<std::uint32_t>::max()));
    };
    const SamplingState& s = *sampling_;
    report = RenderReport{};
    report.sourceWidth = block_->width;
    report.sourceHeight = block_->height;
    report.sourceChannels = block_->channels;
    report.bytesReadHere = main_.bytesRead - bytesAtStart_;
    report.rowsRead = clamp32(main_.rowsRead);
    report.elapsedMs = clamp32(clock_.elapsedMs());
    report.rowsSubsampled = s.plan.subsampled();
    report.budgetExhausted = s.exhausted;
    report.firstPassRows = clamp32(s.rowsDone);
    report.largestSkip = clamp32(s.largestSkip);
    report.setupMs = clamp32(s.setupMs);
    report.smoothed = smoothed_;
    report.usedEmbeddedThumbnail = usedThumbnail_;
    report.demosaiced = rows_->mosaic();
    report.decompressed = source_.decompressed();
    report.statistics = statistics_;
    report.stretch = stretch_;
    report.peakWeight = peakWeight_;
}

// An embedded thumbnail that cannot be loaded, decoded or laid out is only a
// shortcut that failed: the main image can still be drawn. Not after a cancel,
// nor once the hard time limit has passed.
bool RenderJob::mayUseMainInstead(ReadStatus status) const {
    return usedThumbnail_ && status != ReadStatus::Cancelled && checkpoint() == ReadStatus::Ok;
}

ReadStatus RenderJob::renderMainInstead(RgbImage& image, RenderReport* report) {
    passes_.reset();
    sampling_.reset();
    main_.source.reset();
    source_.release();
    return RenderJob(reader_, data_, options_, budget_, main_.bytesRead, false).run(image, report);
}

ReadStatus RenderJob::run(RgbImage& image, RenderReport* report) {
    image = RgbImage{};
    if (clock_.cancelled()) return ReadStatus::Cancelled;
    ReadStatus status = chooseBlock();
    if (status != ReadStatus::Ok) return status;
    status =
        source_.load(clocked_, *block_, options_.maxBlockBytes, [this] { return checkpoint(); });
    if (status != ReadStatus::Ok)
        return mayUseMainInstead(status) ? renderMainInstead(image, report) : status;
    const auto rowBytes = safeMultiply(bytesPerSample(block_->sampleFormat), block_->width);
    if (!rowBytes) return ReadStatus::TooLarge;
    status = layOut(*rowBytes, mosaicPattern(*rowBytes));
    if (status != ReadStatus::Ok)
        return mayUseMainInstead(status) ? renderMainInstead(image, report) : status;

    SamplingState& s = *sampling_;
    s.setupMs = clock_.elapsedMs();
    s.plan.startSampling(budget_.timeLimitMs, s.setupMs);
    status = passes_->run();
    if (status != ReadStatus::Ok) return status;

    // Out of time before a single visit was read whole: nothing to draw.
    if (s.readsStopped && s.rowsDone == 0) return ReadStatus::TimedOut;
    if (!hasSamples(s.sampler)) {
        return usedThumbnail_ ? renderMainInstead(image, report) : ReadStatus::Malformed;
    }
    display(image);
    smoothed_ = options_.smoothPartial && smoothThinFirstPass(image, s.rowsDone);
    if (report != nullptr) fillReport(*report);
    return s.exhausted ? ReadStatus::Partial : ReadStatus::Ok;
}

}  // namespace

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ReadStatus renderImage(Reader& reader, const ImageData& data, const RenderOptions& options,
                       const RenderBudget& budget, RgbImage& image, RenderReport* report) {
    return RenderJob(reader, data, options, budget, 0, true).run(image, report);
}

}  // namespace cv
