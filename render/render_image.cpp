#include "render/render_image.h"

#include <algorithm>
#include <chrono>
#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#endif
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "core/large_allocator.h"
#include "core/render_settings.h"
#include "core/text_utils.h"
#include "render/bayer.h"
#include "render/box_accumulator.h"
#include "render/budget_clock.h"
#include "render/compose_image.h"
#include "render/first_pass_smoothing.h"
#include "render/output_geometry.h"
#include "render/sample_conversion.h"
#include "render/sample_source.h"
#include "render/sampling_plan.h"
#include "render/working_range.h"

namespace cv {

namespace {

constexpr std::uint32_t kMaxPlanningSize = 512;       // above: plan with 4 x the byte limit
constexpr std::uint64_t kLargePlanFactor = 4;
constexpr std::size_t kRowsPerBatch = 16;             // when reading one row per visit
constexpr std::uint64_t kMaxBatchReadBytes = 4 * 1024 * 1024;  // rows asked of the source in one call
constexpr std::uint64_t kSlowRowMicroseconds = 2000;  // slower sources read 3 rows per visit
constexpr std::uint32_t kRowsPerReadOnSlowSources = 3;
constexpr std::uint64_t kMinBytesForTwoLanes = 1024 * 1024;  // fewer: a second thread costs more than it saves

// Where gatherBandRows put the first file row of working row `cell`.
std::size_t bandSlot(const Band& band, std::uint64_t cell, std::uint32_t rowsPerCell) {
    const std::uint64_t middle = rowInPass(band, 0);
    return static_cast<std::size_t>((cell - band.first - (cell > middle ? 1 : 0)) * rowsPerCell);
}

// What a thread converts rows with. The passes after the first can go to
// two threads, each adding its own bands through its own source.
struct RowLane {
    Reader* source = nullptr;
    std::unique_ptr<Reader> ownSource;  // a twin of the job's source, for a second thread
    std::vector<std::uint8_t> raw;      // rows read by one call, rowBytes_ apart, unless the source lends them
    std::vector<std::uint64_t> rows;    // gathered for the next call
    std::vector<ReadRequest> requests;
    std::vector<float> values;
    std::vector<float> secondValues;
    std::vector<float> colorRows;
    std::vector<std::uint64_t> nextVisit;  // of each pass, in the order pass after pass would take
    std::uint64_t* bytesRead = nullptr;    // where the bytes converted are counted
    std::uint64_t ownBytesRead = 0;
    std::uint64_t rowsRead = 0;
    bool exhausted = false;
    bool isSecondLane = false;  // counts its bytes apart from the budget
};

class RenderJob {
public:
    RenderJob(Reader& reader, const ImageData& data, const RenderOptions& options, RenderBudget& budget)
        : reader_(reader), data_(data), options_(options), budget_(budget), bytesAtStart_(budget.bytesRead) {
        main_.bytesRead = &budget_.bytesRead;
    }

    ReadStatus run(RgbImage& image, RenderReport* report);

private:
    struct RowRun {
        std::uint32_t outputRow;
        std::uint64_t firstRow;
        std::uint64_t count;
    };

    ReadStatus chooseSource();
    ReadStatus loadSamples();
    ReadStatus checkpoint() const;
    bool mayUseMainInstead(ReadStatus status) const;
    ReadStatus renderMainInstead(RgbImage& image, RenderReport* report);
    void decideBayer();
    ReadStatus planGeometry();
    void prepareLane(RowLane& lane, std::size_t slots) const;  // throws std::bad_alloc
    ReadStatus samplePlain();
    bool planRestByBands(std::uint32_t rowsPerRead);
    ReadStatus sampleRestByBands();
    std::uint64_t secondLaneStart(RowLane& second);
    ReadStatus addBandsOnTwoLanes(RowLane& second, std::uint64_t split);
    ReadStatus addBands(RowLane& lane, std::uint64_t first, std::uint64_t end);
    bool laneExhausted(const RowLane& lane) const;
    void gatherBandRows(RowLane& lane, const Band& band);
    ReadStatus addBandRows(RowLane& lane, std::uint32_t outputRow, const Band& band);
    ReadStatus addBandCells(RowLane& lane, std::uint32_t outputRow, const Band& band);
    ReadStatus sampleBayer();
    ReadStatus readBatch(const std::vector<RowRun>& batch);
    ReadStatus readCellRows(std::uint64_t outputRow, std::uint64_t pass, std::uint64_t cell, std::size_t& slot);
    ReadStatus readPendingRows(std::uint32_t plane);
    ReadStatus readRows(RowLane& lane, std::uint32_t plane, std::uint32_t planes = 1);
    std::uint64_t rowOffset(std::uint32_t plane, std::uint64_t row) const;
    const std::uint8_t* rowBytes(const RowLane& lane, std::uint32_t plane, std::uint64_t row, std::size_t slot) const;
    ReadStatus convertRowRead(RowLane& lane, std::uint32_t plane, std::uint64_t row, std::size_t slot,
                              std::vector<float>& values);
    void prefetchRow(std::uint32_t plane, std::uint64_t row) const;
    void prefetchLikelyNextCells(std::uint64_t outputRow, std::uint64_t pass) const;
    void display(RgbImage& image);
    void fillReport(RenderReport& report) const;

    std::uint64_t samplingMs() const;
    SamplingProgress progress() const;
    std::uint64_t stepAfter(std::uint64_t outputRow);
    bool mayStartPass(std::uint64_t pass) const;

    Reader& reader_;
    const ImageData& data_;
    const RenderOptions& options_;
    RenderBudget& budget_;
    const BudgetClock clock_{budget_};
    const std::uint64_t bytesAtStart_;

    const ImageBlock* block_ = nullptr;
    Normalization working_;
    bool usedThumbnail_ = false;
    SampleSource source_;

    bool demosaic_ = false;
    BayerPattern pattern_;
    std::uint64_t rowBytes_ = 0;
    std::uint64_t planeBytes_ = 0;
    std::uint32_t planesRead_ = 1;
    std::uint32_t outChannels_ = 1;
    std::uint64_t workWidth_ = 0;
    std::uint64_t workHeight_ = 0;
    OutputSize out_{0, 0};
    std::optional<SamplingPlan> plan_;

    BoxAccumulator accumulator_;
    StatisticsSampler sampler_;
    SampleSchedule schedule_;          // when the passes after the first go band by band
    std::vector<std::uint8_t> visited_;    // of each planned visit: whether its rows were added
    std::atomic<bool> lanesStopped_{false};  // a lane failed: the other stops too
    bool bandsFit_ = false;            // a band's rows but its middle one, of every plane, fit one call
    std::uint32_t rowsPerCell_ = 1;    // file rows of a working row: two for mosaics
    const std::uint8_t* lent_ = nullptr;  // every plane's samples, when the source holds them in memory
    RowLane main_;
    std::size_t bandSlots_ = 0;           // raw rows of a band's call, every plane
    std::size_t rowsPerCall_ = 1;
    std::size_t nextPending_ = 0;             // mosaics: the pair of rows read ahead to use next
    std::vector<std::uint32_t> pendingOutputRows_;  // of main_.rows

    std::uint64_t setupMs_ = 0;
    std::uint64_t rowsDone_ = 0;
    std::uint64_t largestSkip_ = 0;
    bool exhausted_ = false;
    bool smoothed_ = false;
    StretchParameters stretch_;
    ChannelStatistics statistics_;
    float peakWeight_ = 0.0f;
};

std::uint64_t RenderJob::samplingMs() const {
    const std::uint64_t elapsed = clock_.elapsedMs();
    return elapsed > setupMs_ ? elapsed - setupMs_ : 0;
}

SamplingProgress RenderJob::progress() const {
    SamplingProgress progress;
    progress.samplingMs = samplingMs();
    progress.rowsDone = rowsDone_;
    progress.byteLimited = budget_.byteLimit != 0;
    progress.bytesLeft = budget_.bytesRead < budget_.byteLimit ? budget_.byteLimit - budget_.bytesRead : 0;
    return progress;
}

ReadStatus RenderJob::chooseSource() {
    const ImageBlock& main = data_.image;
    if (main.width == 0 || main.height == 0 || main.channels == 0 || main.sampleFormat == SampleFormat::None) {
        return ReadStatus::Malformed;
    }
    const ImageBlock& thumb = data_.thumbnail;
    const bool thumbnailUsable = data_.hasThumbnail && thumb.width != 0 && thumb.height != 0 &&
                                 thumb.channels != 0 && thumb.sampleFormat != SampleFormat::None;
    usedThumbnail_ = options_.useEmbeddedThumbnail && thumbnailUsable &&
                     (options_.preferEmbeddedThumbnail || thumb.width >= options_.maxSize ||
                      thumb.height >= options_.maxSize);
    block_ = usedThumbnail_ ? &thumb : &main;
    working_ = workingNormalization(*block_);
    if (bytesPerSample(block_->sampleFormat) == 0) return ReadStatus::Unsupported;
    return ReadStatus::Ok;
}

// Between the pieces of loading a block: the caller may stop us, and a load
// that runs past the hard time limit has no picture worth waiting for.
ReadStatus RenderJob::checkpoint() const {
    if (clock_.cancelled()) return ReadStatus::Cancelled;
    if (clock_.pastHardLimit()) return ReadStatus::TooLarge;
    return ReadStatus::Ok;
}

ReadStatus RenderJob::loadSamples() {
    return source_.load(reader_, *block_, options_.maxBlockBytes, [this] { return checkpoint(); });
}

void RenderJob::decideBayer() {
    const ImageBlock& block = *block_;
    if (usedThumbnail_ || block.channels != 1 || options_.monochrome) return;
    if (options_.cfaMode == CfaMode::AlwaysMono) return;
    std::string patternText;
    if (hasBayerPattern(data_)) {
        if (options_.cfaMode == CfaMode::Automatic && frameTypeMatches(data_, kColorlessFrameWords)) return;
        patternText = data_.cfaPattern;
    } else if (options_.cfaMode == CfaMode::AlwaysColor &&
               probeBayer(source_.samples(), source_.start(), rowBytes_, block.width, block.height, block.sampleFormat,
                          block.bigEndian, working_.scale, working_.offset)) {
        patternText = "RGGB";
    } else {
        return;
    }
    const auto pattern = parseBayerPattern(patternText);
    if (!pattern || block.width < 2 || block.height < 2) return;
    pattern_ = *pattern;
    demosaic_ = true;
}

ReadStatus RenderJob::planGeometry() {
    const ImageBlock& block = *block_;
    workWidth_ = demosaic_ ? block.width / 2 : block.width;
    workHeight_ = demosaic_ ? block.height / 2 : block.height;
    const bool colour = demosaic_ || (!options_.monochrome && block.channels >= 3 && block.colorSpace == ColorSpace::RGB);
    outChannels_ = colour ? 3 : 1;
    planesRead_ = demosaic_ ? 1 : outChannels_;

    const auto planeBytes = safeMultiply(rowBytes_, block.height);
    const auto total = planeBytes ? safeMultiply(*planeBytes, planesRead_) : std::nullopt;
    if (!total) return ReadStatus::TooLarge;
    planeBytes_ = *planeBytes;
    Reader& samples = source_.samples();
    const std::uint64_t start = source_.start();
    if (start > samples.size() || *total > samples.size() - start) return ReadStatus::Malformed;
    lent_ = samples.view(start, *total);

    out_ = fitOutput(workWidth_, workHeight_, options_.maxSize);
    fitMemory(out_, outChannels_, options_.workingMemory);

    const std::uint64_t planning =
        options_.maxSize <= kMaxPlanningSize ? budget_.byteLimit : budget_.byteLimit * kLargePlanFactor;
    // A working row of a mosaic is a pair of file rows, and each visit reads both.
    rowsPerCell_ = demosaic_ ? 2 : 1;
    const std::uint64_t bytesPerWorkingRow = rowBytes_ * planesRead_ * rowsPerCell_;
    plan_.emplace(workHeight_, out_.height, *total, planning, bytesPerWorkingRow, bytesPerWorkingRow);

    const ReadStatus status = prepareAccumulator(accumulator_, out_.width, out_.height, outChannels_, workWidth_,
                                                 options_.workingMemory, options_.peakBlend > 0.0f);
    if (status != ReadStatus::Ok) return status;
    prepareSampler(sampler_, outChannels_);
    rowsPerCall_ = static_cast<std::size_t>(std::max<std::uint64_t>(kMaxBatchReadBytes / rowBytes_, 2));
    // The largest batch: 16 runs of a row, or as many runs of the slow sources' three rows as make up 16 rows.
    const std::size_t batchRows = kRowsPerBatch + std::max(kRowsPerReadOnSlowSources, options_.rowsPerRead) - 1;
    rowsPerCall_ = std::min(rowsPerCall_, batchRows);
    if (demosaic_) rowsPerCall_ &= ~std::size_t{1};  // whole pairs
    const std::uint64_t bandSlots = (plan_->perBand() - 1) * rowsPerCell_ * planesRead_;  // a band, every plane
    const bool everyPass = options_.maxPasses == 0 || options_.maxPasses >= plan_->perBand();
    bandsFit_ = everyPass && !plan_->subsampled() && bandSlots >= 1 && bandSlots <= kMaxBatchReadBytes / rowBytes_;
    bandSlots_ = bandsFit_ ? static_cast<std::size_t>(bandSlots) : 0;
    main_.source = &source_.samples();
    try {
        prepareLane(main_, rowsPerCall_);
        pendingOutputRows_.reserve(rowsPerCall_);
    } catch (const std::bad_alloc&) {
        return ReadStatus::TooLarge;
    }
    return ReadStatus::Ok;
}

// Buffers for calls of `slots` rows, and for a band's when bands fit one call.
void RenderJob::prepareLane(RowLane& lane, std::size_t slots) const {
    const std::size_t largest = std::max(slots, bandSlots_);
    if (lent_ == nullptr) {
        reserveResident(lane.raw, static_cast<std::size_t>(rowBytes_) * largest);
        lane.raw.resize(static_cast<std::size_t>(rowBytes_) * largest);
    }
    lane.rows.reserve(largest);
    lane.requests.reserve(largest);
    lane.values.resize(static_cast<std::size_t>(block_->width));
    if (demosaic_) {
        lane.secondValues.resize(static_cast<std::size_t>(block_->width));
        lane.colorRows.resize(static_cast<std::size_t>(workWidth_) * 3);
    }
}

std::uint64_t RenderJob::stepAfter(std::uint64_t outputRow) {
    const std::uint64_t step = plan_->stepAfter(outputRow, progress());
    largestSkip_ = std::max(largestSkip_, step - 1);
    return step;
}

bool RenderJob::mayStartPass(std::uint64_t pass) const {
    return !exhausted_ && !clock_.exhausted() && plan_->mayStartPass(pass, options_.maxPasses, progress());
}

std::uint64_t RenderJob::rowOffset(std::uint32_t plane, std::uint64_t row) const {
    return source_.start() + plane * planeBytes_ + row * rowBytes_;
}

// Asks the lane's source in one call for its rows of `planes` planes from `plane`
// on, each into its slot of the lane's raw rows (plane by plane, a slot per row),
// unless the source lends them all.
ReadStatus RenderJob::readRows(RowLane& lane, std::uint32_t plane, std::uint32_t planes) {
    if (lent_ != nullptr) return ReadStatus::Ok;
    lane.requests.clear();
    std::uint8_t* slot = lane.raw.data();
    for (std::uint32_t p = plane; p < plane + planes; ++p) {
        for (const std::uint64_t row : lane.rows) {
            lane.requests.push_back({rowOffset(p, row), slot, rowBytes_});
            slot += rowBytes_;
        }
    }
    return lane.source->readRanges(lane.requests) ? ReadStatus::Ok : ReadStatus::ReadFailed;
}

const std::uint8_t* RenderJob::rowBytes(const RowLane& lane, std::uint32_t plane, std::uint64_t row,
                                        std::size_t slot) const {
    return lent_ != nullptr ? lent_ + plane * planeBytes_ + row * rowBytes_ : lane.raw.data() + slot * rowBytes_;
}

ReadStatus RenderJob::convertRowRead(RowLane& lane, std::uint32_t plane, std::uint64_t row, std::size_t slot,
                                     std::vector<float>& values) {
    const std::uint8_t* raw = rowBytes(lane, plane, row, slot);
    *lane.bytesRead += rowBytes_;
    ++lane.rowsRead;
    const ImageBlock& block = *block_;
    if (!convertRow(raw, values.size(), block.sampleFormat, block.bigEndian, working_.scale, working_.offset,
                    values.data())) {
        return ReadStatus::Unsupported;
    }
    return ReadStatus::Ok;
}

// Asks the processor to start loading a row that is about to be converted,
// so its memory latency overlaps the work on the row before it.
void RenderJob::prefetchRow(std::uint32_t plane, std::uint64_t row) const {
#if defined(__SSE__) || defined(_M_X64)
    constexpr std::uint64_t kCacheLine = 64;
    if (lent_ == nullptr) return;
    const std::uint8_t* bytes = rowBytes(main_, plane, row, 0);
    for (std::uint64_t at = 0; at < rowBytes_; at += kCacheLine) {
        _mm_prefetch(reinterpret_cast<const char*>(bytes + at), _MM_HINT_T1);
    }
#else
    static_cast<void>(plane);
    static_cast<void>(row);
#endif
}

// The next output row is usually r + 1 (always in later passes, and in the
// first while the budget allows every row), so start loading its two rows.
void RenderJob::prefetchLikelyNextCells(std::uint64_t outputRow, std::uint64_t pass) const {
    if (lent_ == nullptr || outputRow + 1 >= out_.height) return;
    const Band next = plan_->band(outputRow + 1);
    if (pass >= next.taken) return;
    const std::uint64_t cell = rowInPass(next, pass);
    prefetchRow(0, 2 * cell);
    prefetchRow(0, 2 * cell + 1);
}

// Rows are read in the order they are visited, as many per call as the raw rows
// holds, and each is converted and added as before.
ReadStatus RenderJob::readBatch(const std::vector<RowRun>& batch) {
    for (std::uint32_t plane = 0; plane < planesRead_; ++plane) {
        for (const RowRun& run : batch) {
            for (std::uint64_t row = run.firstRow; row < run.firstRow + run.count; ++row) {
                if (main_.rows.size() == rowsPerCall_) {
                    const ReadStatus status = readPendingRows(plane);
                    if (status != ReadStatus::Ok) return status;
                }
                main_.rows.push_back(row);
                pendingOutputRows_.push_back(run.outputRow);
            }
        }
        const ReadStatus status = readPendingRows(plane);
        if (status != ReadStatus::Ok) return status;
    }
    return ReadStatus::Ok;
}

ReadStatus RenderJob::readPendingRows(std::uint32_t plane) {
    const std::vector<std::uint64_t>& rows = main_.rows;
    std::vector<float>& values = main_.values;
    ReadStatus status = readRows(main_, plane);
    const std::size_t count = status == ReadStatus::Ok ? rows.size() : 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t row = rows[i];
        // The next row of a run follows in memory; the first of the next run does not.
        if (i + 1 < count && rows[i + 1] != row + 1) prefetchRow(plane, rows[i + 1]);
        status = convertRowRead(main_, plane, row, i, values);
        if (status != ReadStatus::Ok) break;
        accumulateRow(accumulator_, plane, pendingOutputRows_[i], values.data());
        offerRow(sampler_, plane, values.data(), values.size());
    }
    main_.rows.clear();
    pendingOutputRows_.clear();
    return status;
}

ReadStatus RenderJob::samplePlain() {
    std::uint32_t rowsPerRead = options_.rowsPerRead == 0 ? 1 : options_.rowsPerRead;
    std::vector<RowRun> batch;
    for (std::uint64_t pass = 0; pass < plan_->perBand(); ++pass) {
        if (pass == 1 && planRestByBands(rowsPerRead)) return sampleRestByBands();
        if (pass > 0 && !mayStartPass(pass)) break;
        std::uint64_t r = 0;
        bool passEnded = false;
        while (r < out_.height && !passEnded) {
            if (clock_.cancelled()) return ReadStatus::Cancelled;
            const std::size_t batchLimit = rowsPerRead <= 1 ? kRowsPerBatch : (rowsPerRead + 15) / rowsPerRead;
            batch.clear();
            while (r < out_.height && batch.size() < batchLimit) {
                const Band band = plan_->band(r);
                if (pass < band.taken) {
                    const std::uint64_t first = rowInPass(band, pass);
                    const std::uint64_t bandEnd = band.first + band.size;
                    const std::uint64_t count = std::max<std::uint64_t>(
                        std::min<std::uint64_t>({rowsPerRead, bandEnd - first, workHeight_ - first}), 1);
                    batch.push_back({static_cast<std::uint32_t>(r), first, count});
                }
                r += pass == 0 ? stepAfter(r) : 1;
            }
            const ReadStatus status = readBatch(batch);
            if (status != ReadStatus::Ok) return status;
            if (pass == 0) {
                rowsDone_ += batch.size();
                if (options_.rowsPerRead == 0 && main_.rowsRead > 0) {
                    const bool fast = samplingMs() * 1000 / main_.rowsRead < kSlowRowMicroseconds;
                    rowsPerRead = fast ? 1 : kRowsPerReadOnSlowSources;
                }
                if (clock_.exhausted()) exhausted_ = true;
                if (clock_.pastHardLimit()) passEnded = true;
            } else if (clock_.exhausted()) {
                exhausted_ = true;
                return ReadStatus::Ok;
            }
        }
    }
    return ReadStatus::Ok;
}

// Reading each band's remaining rows together asks for two runs of the file
// instead of a row at a time (one call to a source that serves several
// ranges at once, as the Linux file reader does). Only after a first pass over every output row,
// with every row of every band to be read, at one row per visit, and when all
// the passes left are predicted to fit the budgets: a cut would leave the
// bands below it thinner than those above.
bool RenderJob::planRestByBands(std::uint32_t rowsPerRead) {
    if (!bandsFit_ || rowsPerRead != 1 || largestSkip_ != 0 || rowsDone_ != out_.height || exhausted_ ||
        clock_.exhausted() || !plan_->mayFinishFrom(1, options_.maxPasses, progress())) {
        return false;
    }
    const std::uint64_t passes = plan_->perBand();
    try {
        std::vector<std::uint64_t> bandsTaking(passes + 1, 0);
        for (std::uint64_t r = 0; r < out_.height; ++r) ++bandsTaking[plan_->band(r).taken];
        // Pass after pass, pass p visits the bands taking more than p rows.
        main_.nextVisit.assign(passes, 0);
        std::uint64_t visits = 0;
        std::uint64_t bandsInPass = out_.height - bandsTaking[0] - bandsTaking[1];
        for (std::uint64_t pass = 1; pass < passes; ++pass) {
            main_.nextVisit[pass] = visits;
            visits += bandsInPass;
            bandsInPass -= bandsTaking[pass + 1];
        }
        visited_.assign(static_cast<std::size_t>(visits), 0);
        return schedule_.plan(sampler_, visits, workWidth_);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Each box still adds its rows pass by pass, so the sums are those of
// reading pass after pass; the schedule gives the sampler the same values.
ReadStatus RenderJob::sampleRestByBands() {
    for (std::uint32_t c = 0; c < sampler_.channels; ++c) schedule_.begin(sampler_, c);
    RowLane second;
    const std::uint64_t split = secondLaneStart(second);
    const ReadStatus status = split < out_.height ? addBandsOnTwoLanes(second, split) : addBands(main_, 0, out_.height);
    exhausted_ = main_.exhausted || second.exhausted;
    for (std::uint32_t c = 0; c < sampler_.channels; ++c) schedule_.end(sampler_, c, visited_);
    return status;
}

// The output row from which a second thread adds the bands, splitting the
// rows left in two, with `second` ready for it; out_.height when this thread
// adds them all: the source cannot be read from two threads at once, or the
// rows left are too few to pay for starting one.
std::uint64_t RenderJob::secondLaneStart(RowLane& second) {
    if (!options_.secondThread) return out_.height;
    const std::uint64_t visits = visited_.size();
    if (visits * rowsPerCell_ * planesRead_ * rowBytes_ < kMinBytesForTwoLanes) return out_.height;
    std::uint64_t split = 0;
    for (std::uint64_t above = 0; split < out_.height && 2 * above < visits; ++split) {
        above += plan_->band(split).taken - 1;
    }
    if (split >= out_.height) return out_.height;
    try {
        if (lent_ == nullptr) {
            second.ownSource = source_.samples().twin();
            if (!second.ownSource) return out_.height;
        }
        second.source = second.ownSource.get();
        second.bytesRead = &second.ownBytesRead;
        second.isSecondLane = true;
        prepareLane(second, 0);
        second.nextVisit = main_.nextVisit;
    } catch (const std::exception&) {  // no twin or no room for its buffers: one thread adds them all
        return out_.height;
    }
    for (std::uint64_t r = 0; r < split; ++r) {
        for (std::uint64_t pass = 1; pass < plan_->band(r).taken; ++pass) ++second.nextVisit[pass];
    }
    return split;
}

// A second thread adds the bands from `split` on while this one adds those
// above: each writes only its own output rows, samples and visits, and reads
// through its own source and buffers.
ReadStatus RenderJob::addBandsOnTwoLanes(RowLane& second, std::uint64_t split) {
    ReadStatus status = ReadStatus::Ok;
    ReadStatus secondStatus = ReadStatus::Ok;
    {
        std::jthread worker;
        try {
            worker = std::jthread([&] {
                // An exception leaving a thread would end the whole process.
                try {
                    secondStatus = addBands(second, split, out_.height);
                } catch (const std::bad_alloc&) {
                    secondStatus = ReadStatus::TooLarge;
                } catch (...) {
                    secondStatus = ReadStatus::ReadFailed;
                }
                if (secondStatus != ReadStatus::Ok) lanesStopped_ = true;
            });
        } catch (const std::exception&) {
            // No thread to be had (none left, or no memory for one): this one adds the second share after its own.
        }
        try {
            status = addBands(main_, 0, split);
        } catch (...) {
            lanesStopped_ = true;  // so the worker is joined soon, before the exception goes on
            throw;
        }
        if (status != ReadStatus::Ok) lanesStopped_ = true;
        if (!worker.joinable() && status == ReadStatus::Ok && !main_.exhausted) {
            secondStatus = addBands(second, split, out_.height);
        }
    }
    budget_.bytesRead += second.ownBytesRead;
    main_.rowsRead += second.rowsRead;
    return status != ReadStatus::Ok ? status : secondStatus;
}

ReadStatus RenderJob::addBands(RowLane& lane, std::uint64_t first, std::uint64_t end) {
    for (std::uint64_t r = first; r < end; ++r) {
        if (clock_.cancelled()) return ReadStatus::Cancelled;
        if (lanesStopped_) return ReadStatus::Ok;  // the other lane failed: its status is the render's
        // Where the loops pass after pass look at the budget: mosaics before each row, plain images after each batch.
        if (demosaic_ && laneExhausted(lane)) {
            lane.exhausted = true;
            break;
        }
        const Band band = plan_->band(r);
        gatherBandRows(lane, band);
        const auto outputRow = static_cast<std::uint32_t>(r);
        const ReadStatus status =
            demosaic_ ? addBandCells(lane, outputRow, band) : addBandRows(lane, outputRow, band);
        if (status != ReadStatus::Ok) return status;
        for (std::uint64_t pass = 1; pass < band.taken; ++pass) visited_[lane.nextVisit[pass]++] = 1;
        if (!demosaic_ && laneExhausted(lane)) {
            lane.exhausted = true;
            break;
        }
    }
    return ReadStatus::Ok;
}

// A second lane counts its bytes apart and stops on time alone: the bytes of
// every pass left were found to fit before the bands began.
bool RenderJob::laneExhausted(const RowLane& lane) const {
    return lane.isSecondLane ? clock_.timeUp() : clock_.exhausted();
}

// The file rows of every working row of the band but the middle one, in
// order: slot i of the lane's raw rows holds the i-th.
void RenderJob::gatherBandRows(RowLane& lane, const Band& band) {
    const std::uint64_t middle = rowInPass(band, 0);
    lane.rows.clear();
    for (std::uint64_t cell = band.first; cell < band.first + band.size; ++cell) {
        if (cell == middle) continue;
        for (std::uint32_t i = 0; i < rowsPerCell_; ++i) lane.rows.push_back(cell * rowsPerCell_ + i);
    }
}

ReadStatus RenderJob::addBandRows(RowLane& lane, std::uint32_t outputRow, const Band& band) {
    ReadStatus status = readRows(lane, 0, planesRead_);
    for (std::uint32_t plane = 0; plane < planesRead_ && status == ReadStatus::Ok; ++plane) {
        const std::size_t planeSlots = plane * lane.rows.size();
        for (std::uint64_t pass = 1; pass < band.taken && status == ReadStatus::Ok; ++pass) {
            const std::uint64_t row = rowInPass(band, pass);
            status = convertRowRead(lane, plane, row, planeSlots + bandSlot(band, row, 1), lane.values);
            if (status != ReadStatus::Ok) break;
            accumulateRow(accumulator_, plane, outputRow, lane.values.data());
            schedule_.offer(sampler_, plane, lane.nextVisit[pass], lane.values.data());
        }
    }
    return status;
}

ReadStatus RenderJob::addBandCells(RowLane& lane, std::uint32_t outputRow, const Band& band) {
    const std::uint64_t cells = workWidth_;
    float* red = lane.colorRows.data();
    ReadStatus status = readRows(lane, 0);
    for (std::uint64_t pass = 1; pass < band.taken && status == ReadStatus::Ok; ++pass) {
        const std::uint64_t cell = rowInPass(band, pass);
        const std::size_t slot = bandSlot(band, cell, 2);
        status = convertRowRead(lane, 0, 2 * cell, slot, lane.values);
        if (status == ReadStatus::Ok) status = convertRowRead(lane, 0, 2 * cell + 1, slot + 1, lane.secondValues);
        if (status != ReadStatus::Ok) break;
        demosaicRowPair(lane.values.data(), lane.secondValues.data(), static_cast<std::size_t>(cells), pattern_, red,
                        red + cells, red + 2 * cells);
        for (std::uint32_t c = 0; c < 3; ++c) {
            const float* colour = red + c * cells;
            accumulateRow(accumulator_, c, outputRow, colour);
            schedule_.offer(sampler_, c, lane.nextVisit[pass], colour);
        }
    }
    return status;
}

// The pair of mosaic rows of `cell`, at `slot` and the next of the raw rows,
// read in one call with the pairs of the next output rows. After the first
// pass the rows to come are known. The first pass picks each row from the
// progress so far, so it reads ahead only while steps of one are what the
// pace so far gives; when a step then differs, the pairs still pending are
// dropped and each pair needed is read again.
ReadStatus RenderJob::readCellRows(std::uint64_t outputRow, std::uint64_t pass, std::uint64_t cell,
                                   std::size_t& slot) {
    slot = 0;
    if (lent_ != nullptr) return ReadStatus::Ok;
    if (nextPending_ + 1 < main_.rows.size() && main_.rows[nextPending_] == 2 * cell) {
        slot = nextPending_;
        nextPending_ += 2;
        return ReadStatus::Ok;
    }
    main_.rows.clear();
    main_.rows.push_back(2 * cell);
    main_.rows.push_back(2 * cell + 1);
    // Rows read ahead are counted only when used, so read no more than the byte budget still allows.
    const SamplingProgress now = progress();
    const std::uint64_t rowsLeft = budget_.byteLimit == 0 ? rowsPerCall_ : now.bytesLeft / rowBytes_;
    const std::uint64_t rowsAhead = std::min<std::uint64_t>(rowsPerCall_, std::max<std::uint64_t>(rowsLeft, 2));
    for (std::uint64_t r = outputRow + 1; r < out_.height && main_.rows.size() + 2 <= rowsAhead; ++r) {
        if (pass == 0 && plan_->stepAfter(r - 1, now) != 1) break;
        const Band band = plan_->band(r);
        if (pass >= band.taken) continue;
        const std::uint64_t next = rowInPass(band, pass);
        main_.rows.push_back(2 * next);
        main_.rows.push_back(2 * next + 1);
    }
    nextPending_ = 2;
    return readRows(main_, 0);
}

ReadStatus RenderJob::sampleBayer() {
    const std::uint64_t cells = workWidth_;
    float* red = main_.colorRows.data();
    float* green = red + cells;
    float* blue = green + cells;
    for (std::uint64_t pass = 0; pass < plan_->perBand(); ++pass) {
        if (pass == 1 && planRestByBands(1)) return sampleRestByBands();
        if (pass > 0 && !mayStartPass(pass)) break;
        std::uint64_t r = 0;
        while (r < out_.height) {
            if (clock_.cancelled()) return ReadStatus::Cancelled;
            if (clock_.exhausted()) {
                exhausted_ = true;
                if (pass > 0) return ReadStatus::Ok;
            }
            if (pass == 0 && clock_.pastHardLimit()) break;
            if (pass == 0) ++rowsDone_;
            const Band band = plan_->band(r);
            if (pass < band.taken) {
                const std::uint64_t cell = rowInPass(band, pass);
                prefetchLikelyNextCells(r, pass);
                std::size_t slot = 0;
                ReadStatus status = readCellRows(r, pass, cell, slot);
                if (status == ReadStatus::Ok) status = convertRowRead(main_, 0, 2 * cell, slot, main_.values);
                if (status == ReadStatus::Ok) {
                    status = convertRowRead(main_, 0, 2 * cell + 1, slot + 1, main_.secondValues);
                }
                if (status != ReadStatus::Ok) return status;
                demosaicRowPair(main_.values.data(), main_.secondValues.data(), static_cast<std::size_t>(cells),
                                pattern_, red, green, blue);
                const auto outputRow = static_cast<std::uint32_t>(r);
                for (std::uint32_t c = 0; c < 3; ++c) {
                    const float* colour = red + c * cells;
                    accumulateRow(accumulator_, c, outputRow, colour);
                    offerRow(sampler_, c, colour, static_cast<std::size_t>(cells));
                }
            }
            r += pass == 0 ? stepAfter(r) : 1;
        }
    }
    return ReadStatus::Ok;
}

void RenderJob::display(RgbImage& image) {
    statistics_ = computeStatistics(sampler_);
    StretchOptions stretchOptions;
    stretchOptions.shadowsClipping = options_.shadowsClipping;
    stretchOptions.targetBackground = options_.targetBackground;
    stretchOptions.linkedChannels = options_.linkedChannels && !demosaic_;
    stretchOptions.autoStretch = options_.autoStretch;
    stretchOptions.stretchStrength =
        frameTypeMatches(data_, kCalibrationFrameWords) ? 0.0f : options_.stretchStrength;
    stretch_ = computeStretch(statistics_, stretchOptions);

    float sigmaSum = 0.0f;
    std::uint32_t sigmaCount = 0;
    for (std::uint32_t c = 0; c < statistics_.channels; ++c) {
        if (!statistics_.channelValid[c]) continue;
        sigmaSum += statistics_.sigma[c];
        ++sigmaCount;
    }
    PeakBlend peaks;
    peaks.blend = options_.peakBlend;
    peaks.low = options_.peakLow;
    peaks.high = options_.peakHigh;
    const float noiseSigma = sigmaCount > 0 ? sigmaSum / static_cast<float>(sigmaCount) : 0.0f;
    peakWeight_ = composeImage(accumulator_, stretch_, peaks, noiseSigma, image);
}

void RenderJob::fillReport(RenderReport& report) const {
    auto clamp32 = [](std::uint64_t v) {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, std::numeric_limits<std::uint32_t>::max()));
    };
    report = RenderReport{};
    report.sourceWidth = block_->width;
    report.sourceHeight = block_->height;
    report.sourceChannels = block_->channels;
    report.bytesReadHere = budget_.bytesRead - bytesAtStart_;
    report.rowsRead = clamp32(main_.rowsRead);
    report.elapsedMs = clamp32(clock_.elapsedMs());
    report.rowsSubsampled = plan_->subsampled();
    report.budgetExhausted = exhausted_;
    report.firstPassRows = clamp32(rowsDone_);
    report.largestSkip = clamp32(largestSkip_);
    report.setupMs = clamp32(setupMs_);
    report.smoothed = smoothed_;
    report.usedEmbeddedThumbnail = usedThumbnail_;
    report.demosaiced = demosaic_;
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
    source_.release();
    accumulator_ = {};
    sampler_ = {};
    RenderOptions mainOnly = options_;
    mainOnly.useEmbeddedThumbnail = false;
    mainOnly.preferEmbeddedThumbnail = false;
    return RenderJob(reader_, data_, mainOnly, budget_).run(image, report);
}

ReadStatus RenderJob::run(RgbImage& image, RenderReport* report) {
    image = RgbImage{};
    if (clock_.cancelled()) return ReadStatus::Cancelled;
    ReadStatus status = chooseSource();
    if (status != ReadStatus::Ok) return status;
    status = loadSamples();
    if (status != ReadStatus::Ok) return mayUseMainInstead(status) ? renderMainInstead(image, report) : status;
    const auto rowBytes = safeMultiply(bytesPerSample(block_->sampleFormat), block_->width);
    if (!rowBytes) return ReadStatus::TooLarge;
    rowBytes_ = *rowBytes;
    decideBayer();
    status = planGeometry();
    if (status != ReadStatus::Ok) return mayUseMainInstead(status) ? renderMainInstead(image, report) : status;

    setupMs_ = clock_.elapsedMs();
    plan_->startSampling(budget_.timeLimitMs, setupMs_);

    status = demosaic_ ? sampleBayer() : samplePlain();
    if (status != ReadStatus::Ok) return status;

    if (!hasSamples(sampler_)) return usedThumbnail_ ? renderMainInstead(image, report) : ReadStatus::Malformed;
    display(image);
    smoothed_ = options_.smoothPartial && smoothThinFirstPass(image, rowsDone_);
    if (report != nullptr) fillReport(*report);
    return exhausted_ ? ReadStatus::Partial : ReadStatus::Ok;
}

}  // namespace

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ReadStatus renderImage(Reader& reader, const ImageData& data, const RenderOptions& options, RenderBudget& budget,
                       RgbImage& image, RenderReport* report) {
    return RenderJob(reader, data, options, budget).run(image, report);
}

}  // namespace cv
