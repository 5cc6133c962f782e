#include "render/pass_sampler.h"

#include <algorithm>
#include <utility>

namespace cv {

namespace {

constexpr std::size_t kRowsPerBatch = 16;             // when reading one row per visit
constexpr std::uint64_t kSlowRowMicroseconds = 2000;  // slower sources read 3 rows per visit
constexpr std::uint32_t kRowsPerReadOnSlowSources = 3;
// Well clear of the slow pace: the next batch's shape is unlikely to change.
constexpr std::uint64_t kSteadyRowMicroseconds = kSlowRowMicroseconds / 4;

}  // namespace

std::size_t PassSampler::rowsPerCall(std::uint64_t rowBytes, std::uint32_t rowsPerRead,
                                     bool mosaic) {
    std::size_t rows =
        static_cast<std::size_t>(std::max<std::uint64_t>(kMaxFetchBytes / rowBytes, 2));
    // The largest batch: 16 runs of a row, or as many runs of the slow sources' three rows as make
    // up 16 rows.
    const std::size_t batchRows =
        kRowsPerBatch + std::max(kRowsPerReadOnSlowSources, rowsPerRead) - 1;
    rows = std::min(rows, batchRows);
    if (mosaic) rows &= ~std::size_t{1};  // whole pairs
    return rows;
}

PassSampler::PassSampler(SamplingState& state) : s_(state), bands_(state) {
    pendingOutputRows_.reserve(state.rowsPerCall);
    nextBatchRows_.reserve(state.rowsPerCall);
    predicted_.reserve(kRowsPerBatch);
}

ReadStatus PassSampler::run() {
    return s_.reader.mosaic() ? sampleMosaic() : samplePlain();
}

ReadStatus PassSampler::addFirstPassCell(std::uint32_t plane, std::uint64_t cell, std::size_t slot,
                                         std::uint32_t outputRow) {
    return s_.addCell(s_.main, plane, cell, slot, outputRow,
                      [this](std::uint32_t channel, const float* values, std::size_t count) {
                          offerRow(s_.sampler, channel, values, count);
                      });
}

ReadStatus PassSampler::samplePlain() {
    s_.prepareSpare(s_.cells * s_.planes * s_.rowBytes);
    const std::uint32_t chosenRowsPerRead = s_.options.rowsPerRead;
    std::uint32_t rowsPerRead = chosenRowsPerRead == 0 ? 1 : chosenRowsPerRead;
    bool slowSource = false;  // found slow by the pace of the first pass
    std::vector<RowRun> batch;
    for (std::uint64_t pass = 0; pass < s_.plan.perBand(); ++pass) {
        if (pass == 1 && bands_.plan(rowsPerRead)) return bands_.sampleRest();
        if (pass > 0 && !s_.mayStartPass(pass)) break;
        std::uint64_t r = 0;
        bool passEnded = false;
        while (r < s_.out.height && !passEnded) {
            if (s_.clock.cancelled()) return ReadStatus::Cancelled;
            // A batch reads plane after plane, so on a slow source one of several planes
            // takes a visit at a time: a batch the time cuts short then costs no finished visit.
            const std::size_t batchLimit = slowSource && s_.planes > 1 ? 1
                                           : rowsPerRead <= 1          ? kRowsPerBatch
                                                              : (rowsPerRead + 15) / rowsPerRead;
            gatherBatch(r, pass, rowsPerRead, batchLimit, batch,
                        [&](std::uint64_t row) { return pass == 0 ? s_.stepAfter(row) : 1; });
            // On a source near the slow pace the first pass's next batch may change shape with this
            // one's; later passes keep the shape the first pass left.
            const bool steady = pass > 0 || chosenRowsPerRead != 0 ||
                                (s_.main.rowsRead > 0 && s_.samplingMs() * 1000 / s_.main.rowsRead <
                                                             kSteadyRowMicroseconds);
            next_ = steady
                        ? std::optional<NextBatch>({r, pass, rowsPerRead, batchLimit, batch.size()})
                        : std::nullopt;
            std::size_t visited = batch.size();
            const ReadStatus status = readBatch(batch, visited);
            if (pass == 0) s_.rowsDone += visited;
            if (status == ReadStatus::TimedOut) return stopReading();
            if (status != ReadStatus::Ok) return status;
            if (pass == 0) {
                if (chosenRowsPerRead == 0 && s_.main.rowsRead > 0) {
                    const bool fast =
                        s_.samplingMs() * 1000 / s_.main.rowsRead < kSlowRowMicroseconds;
                    rowsPerRead = fast ? 1 : kRowsPerReadOnSlowSources;
                    slowSource = !fast;
                }
                if (s_.clock.exhausted()) s_.exhausted = true;
                if (s_.clock.pastHardLimit()) passEnded = true;
            } else if (s_.clock.exhausted()) {
                s_.exhausted = true;
                return ReadStatus::Ok;
            }
        }
    }
    return ReadStatus::Ok;
}

// Gathers into `batch` the runs of up to `limit` visits from output row `r`
// on, moving on by `step(row)` after each row, and leaves `r` where the next
// batch begins. False when `step` gives 0 (no step of one) before the batch
// is whole.
template <typename Step>
bool PassSampler::gatherBatch(std::uint64_t& r, std::uint64_t pass, std::uint32_t rowsPerRead,
                              std::size_t limit, std::vector<RowRun>& batch, Step step) const {
    batch.clear();
    while (r < s_.out.height && batch.size() < limit) {
        const Band band = s_.plan.band(r);
        if (pass < band.taken) {
            const std::uint64_t first = rowInPass(band, pass);
            // Up to `rowsPerRead` rows, within the band and the block, at least one.
            const std::uint64_t count = std::max<std::uint64_t>(
                std::min<std::uint64_t>(
                    {rowsPerRead, band.first + band.size - first, s_.cells - first}),
                1);
            batch.push_back({static_cast<std::uint32_t>(r), first, count});
        }
        const std::uint64_t by = step(r);
        if (by == 0) return batch.size() == limit;
        r += by;
    }
    return true;
}

// The first plane's rows of the batch after this one, for this batch's last
// fetch (`fetchedRows` of its last plane, not yet added) to read ahead. None
// when they would not fit one fetch, when the budget is spent or this batch
// spends its bytes, or when the first pass, with this batch counted, would
// step past a row on the pace so far: rows read ahead and not asked for are
// read for nothing.
bool PassSampler::predictNextBatch(std::size_t fetchedRows) {
    nextBatchRows_.clear();
    if (!next_ || s_.clock.exhausted()) return false;
    SamplingProgress now = s_.progress();
    now.rowsDone += next_->runsNow;
    if (now.byteLimited) {
        if (now.bytesLeft <= fetchedRows * s_.rowBytes) return false;
        now.bytesLeft -= fetchedRows * s_.rowBytes;
    }
    std::uint64_t r = next_->from;
    const bool whole =
        gatherBatch(r, next_->pass, next_->rowsPerRead, next_->limit, predicted_,
                    [&](std::uint64_t row) -> std::uint64_t {
                        return next_->pass > 0 || s_.plan.stepAfter(row, now) == 1 ? 1 : 0;
                    });
    if (!whole) return false;
    for (const RowRun& run : predicted_) {
        if (nextBatchRows_.size() + run.count > s_.rowsPerCall) {
            nextBatchRows_.clear();
            return false;
        }
        for (std::uint64_t row = run.firstRow; row < run.firstRow + run.count; ++row)
            nextBatchRows_.push_back(row);
    }
    return !nextBatchRows_.empty();
}

// Rows are fetched in the order they are visited, as many per call as the
// lane holds, and each is converted and added as it comes. `visited` is
// left as the runs whose rows were added.
ReadStatus PassSampler::readBatch(const std::vector<RowRun>& batch, std::size_t& visited) {
    std::size_t rowsAdded = 0;  // of the first plane
    std::uint64_t rows = 0;
    for (const RowRun& run : batch) rows += run.count;
    // One fetch a plane: the next plane's rows are those just fetched, and after the last plane
    // the next batch's may be known, so they can be read ahead.
    batchInOneFetch_ = rows <= s_.rowsPerCall;
    for (std::uint32_t plane = 0; plane < s_.planes; ++plane) {
        for (const RowRun& run : batch) {
            for (std::uint64_t row = run.firstRow; row < run.firstRow + run.count; ++row) {
                if (s_.main.rows.size() == s_.rowsPerCall) {
                    const ReadStatus status = addPendingRows(plane, rowsAdded);
                    if (status == ReadStatus::TimedOut) visited = keepRowsRead(batch, rowsAdded);
                    if (status != ReadStatus::Ok) return status;
                }
                s_.main.rows.push_back(row);
                pendingOutputRows_.push_back(run.outputRow);
            }
        }
        const ReadStatus status = addPendingRows(plane, rowsAdded);
        if (status == ReadStatus::TimedOut) visited = keepRowsRead(batch, rowsAdded);
        if (status != ReadStatus::Ok) return status;
    }
    return ReadStatus::Ok;
}

// After the time ran out part-way through a batch: with one plane the runs
// begun keep the rows read, and the count of them is returned. With several,
// a run lacking a plane would show in false colour, so the batch's output
// rows are emptied (in a later pass with what the earlier ones gave them)
// for the picture to fill them in from their neighbours.
std::size_t PassSampler::keepRowsRead(const std::vector<RowRun>& batch, std::size_t rowsAdded) {
    if (s_.planes == 1) {
        std::size_t runs = 0;
        for (std::uint64_t first = 0; runs < batch.size() && first < rowsAdded; ++runs)
            first += batch[runs].count;
        return runs;
    }
    for (const RowRun& run : batch) clearRow(s_.accumulator, run.outputRow);
    return 0;
}

// When the time ran out part-way through the fetch, the rows read by then
// are added and TimedOut returned.
ReadStatus PassSampler::addPendingRows(std::uint32_t plane, std::size_t& rowsAdded) {
    RowLane& lane = s_.main;
    const std::vector<std::uint64_t>& rows = lane.rows;
    const ReadStatus fetched = lane.source->fetch(rows, plane, 1);
    const bool ahead = fetched == ReadStatus::Ok && batchInOneFetch_ && lane.spare &&
                       (plane + 1 < s_.planes ? lane.spare->fetchAhead(rows, plane + 1, 1)
                                              : predictNextBatch(rows.size()) &&
                                                    lane.spare->fetchAhead(nextBatchRows_, 0, 1));
    ReadStatus status = fetched;
    const std::size_t count = fetched == ReadStatus::Ok         ? rows.size()
                              : fetched == ReadStatus::TimedOut ? lane.source->ready()
                                                                : 0;
    for (std::size_t i = 0; i < count; ++i) {
        // The next row of a run follows in memory; the first of the next run does not.
        if (i + 1 < count && rows[i + 1] != rows[i] + 1) lane.source->prefetch(plane, rows[i + 1]);
        status = addFirstPassCell(plane, rows[i], i, pendingOutputRows_[i]);
        if (status != ReadStatus::Ok) break;
        if (plane == 0) ++rowsAdded;
    }
    if (ahead) std::swap(lane.source, lane.spare);
    lane.rows.clear();
    pendingOutputRows_.clear();
    return status == ReadStatus::Ok ? fetched : status;
}

// The time ran out with rows still to read: what was read is drawn.
ReadStatus PassSampler::stopReading() {
    s_.exhausted = true;
    s_.readsStopped = true;
    return ReadStatus::Ok;
}

ReadStatus PassSampler::sampleMosaic() {
    for (std::uint64_t pass = 0; pass < s_.plan.perBand(); ++pass) {
        if (pass == 1 && bands_.plan(1)) return bands_.sampleRest();
        if (pass > 0 && !s_.mayStartPass(pass)) break;
        std::uint64_t r = 0;
        while (r < s_.out.height) {
            if (s_.clock.cancelled()) return ReadStatus::Cancelled;
            if (s_.clock.exhausted()) {
                s_.exhausted = true;
                if (pass > 0) return ReadStatus::Ok;
            }
            if (pass == 0 && s_.clock.pastHardLimit()) break;
            if (pass == 0) ++s_.rowsDone;
            const Band band = s_.plan.band(r);
            if (pass < band.taken) {
                const std::uint64_t cell = rowInPass(band, pass);
                prefetchLikelyNextCells(r, pass);
                std::size_t slot = 0;
                ReadStatus status = fetchCellRows(r, pass, cell, slot);
                if (status == ReadStatus::Ok)
                    status = addFirstPassCell(0, cell, slot, static_cast<std::uint32_t>(r));
                if (status == ReadStatus::TimedOut) {
                    if (pass == 0) --s_.rowsDone;  // counted as the visit began, never read
                    return stopReading();
                }
                if (status != ReadStatus::Ok) return status;
            }
            r += pass == 0 ? s_.stepAfter(r) : 1;
        }
    }
    return ReadStatus::Ok;
}

// The next output row is usually r + 1 (always in later passes, and in the
// first while the budget allows every row), so start loading its two rows.
void PassSampler::prefetchLikelyNextCells(std::uint64_t outputRow, std::uint64_t pass) const {
    if (!s_.main.source->resident() || outputRow + 1 >= s_.out.height) return;
    const Band next = s_.plan.band(outputRow + 1);
    if (pass >= next.taken) return;
    const std::uint64_t cell = rowInPass(next, pass);
    s_.main.source->prefetch(0, 2 * cell);
    s_.main.source->prefetch(0, 2 * cell + 1);
}

// The pair of mosaic rows of `cell`, at `slot` and the next of the lane's
// rows, fetched in one call with the pairs of the next output rows. After the
// first pass the rows to come are known. The first pass picks each row from
// the progress so far, so it reads ahead only while steps of one are what
// the pace so far gives; when a step then differs, the pairs still pending
// are dropped and each pair needed is fetched again.
ReadStatus PassSampler::fetchCellRows(std::uint64_t outputRow, std::uint64_t pass,
                                      std::uint64_t cell, std::size_t& slot) {
    RowLane& lane = s_.main;
    slot = 0;
    if (lane.source->resident()) return ReadStatus::Ok;
    if (nextPending_ + 1 < lane.rows.size() && lane.rows[nextPending_] == 2 * cell) {
        slot = nextPending_;
        nextPending_ += 2;
        return ReadStatus::Ok;
    }
    lane.rows.clear();
    lane.rows.push_back(2 * cell);
    lane.rows.push_back(2 * cell + 1);
    // Rows read ahead are counted only when used, so read no more than the byte budget still
    // allows.
    const SamplingProgress now = s_.progress();
    const std::uint64_t rowsLeft =
        s_.budget.byteLimit == 0 ? s_.rowsPerCall : now.bytesLeft / s_.rowBytes;
    const std::uint64_t rowsAhead =
        std::min<std::uint64_t>(s_.rowsPerCall, std::max<std::uint64_t>(rowsLeft, 2));
    for (std::uint64_t r = outputRow + 1; r < s_.out.height && lane.rows.size() + 2 <= rowsAhead;
         ++r) {
        if (pass == 0 && s_.plan.stepAfter(r - 1, now) != 1) break;
        const Band band = s_.plan.band(r);
        if (pass >= band.taken) continue;
        const std::uint64_t next = rowInPass(band, pass);
        lane.rows.push_back(2 * next);
        lane.rows.push_back(2 * next + 1);
    }
    nextPending_ = 2;
    const ReadStatus status = lane.source->fetch(lane.rows, 0, 1);
    if (status != ReadStatus::TimedOut || lane.source->ready() < 2) return status;
    // The pairs read before the time ran out are used as they come up.
    lane.rows.resize(lane.source->ready() & ~std::size_t{1});
    return ReadStatus::Ok;
}

}  // namespace cv
