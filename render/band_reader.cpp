#include "render/band_reader.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "render/second_lane.h"

namespace cv {

namespace {

// Where gatherRows put the first file row of working row `cell`.
std::size_t bandSlot(const Band& band, std::uint64_t cell, std::uint32_t rowsPerCell) {
    const std::uint64_t middle = rowInPass(band, 0);
    return static_cast<std::size_t>((cell - band.first - (cell > middle ? 1 : 0)) * rowsPerCell);
}

}  // namespace

std::uint64_t bandsPerGroup(const SamplingState& s) {
    const std::uint64_t bandBytes = s.bandSlots * s.rowBytes;
    if (s.main.source->resident() || bandBytes == 0 || bandBytes > kMaxFetchBytes / 2) return 0;
    return std::clamp<std::uint64_t>(kBytesReadAhead / bandBytes, 1, kMaxFetchBytes / bandBytes);
}

bool BandReader::plan(std::uint32_t rowsPerRead) {
    const SamplingState& s = s_;
    if (s.bandSlots == 0 || rowsPerRead != 1 || s.largestSkip != 0 || s.rowsDone != s.out.height ||
        s.exhausted || s.clock.exhausted() ||
        !s.plan.mayFinishFrom(1, s.options.maxPasses, s.progress())) {
        return false;
    }
    const std::uint64_t passes = s.plan.perBand();
    try {
        std::vector<std::uint64_t> bandsTaking(passes + 1, 0);
        for (std::uint64_t r = 0; r < s.out.height; ++r) ++bandsTaking[s.plan.band(r).taken];
        // Pass after pass, pass p visits the bands taking more than p rows.
        s_.main.nextVisit.assign(passes, 0);
        std::uint64_t visits = 0;
        std::uint64_t bandsInPass = s.out.height - bandsTaking[0] - bandsTaking[1];
        for (std::uint64_t pass = 1; pass < passes; ++pass) {
            s_.main.nextVisit[pass] = visits;
            visits += bandsInPass;
            bandsInPass -= bandsTaking[pass + 1];
        }
        visited_.assign(static_cast<std::size_t>(visits), 0);
        return schedule_.plan(s.sampler, visits, s.reader.cellWidth());
    } catch (const std::bad_alloc&) {
        return false;
    }
}

ReadStatus BandReader::sampleRest() {
    for (std::uint32_t c = 0; c < s_.sampler.channels; ++c) schedule_.begin(s_.sampler, c);
    // On the heap: a fault on its thread leaves it to leak.
    std::unique_ptr<RowLane> second(new (std::nothrow) RowLane);
    const bool twoLanes = second && prepareSecondLane(*this, *second, bandsPerFetch_);
    if (!twoLanes) prepareReadAhead();
    const ReadStatus status = twoLanes ? addBandsOnTwoLanes(*this, second, bandsPerFetch_)
                                       : addBands(s_.main, 0, s_.out.height);
    s_.exhausted = s_.main.exhausted || (second && second->exhausted);
    for (std::uint32_t c = 0; c < s_.sampler.channels; ++c) schedule_.end(s_.sampler, c, visited_);
    return status;
}

ReadStatus BandReader::addBands(RowLane& lane, std::uint64_t first, std::uint64_t end) {
    const bool mosaic = s_.reader.mosaic();
    for (std::uint64_t r = first; r < end;) {
        if (s_.clock.cancelled()) return ReadStatus::Cancelled;
        if (lanesStopped_)
            return ReadStatus::Ok;  // the other lane failed: its status is the render's
        if (mosaic && laneExhausted(lane)) {
            lane.exhausted = true;
            break;
        }
        const std::uint64_t groupEnd = std::min(end, r + bandsPerFetch_);
        gatherRows(lane.rows, r, groupEnd);
        ReadStatus status = lane.source->fetch(lane.rows, 0, s_.planes);
        if (status == ReadStatus::Ok) fetchNextAhead(lane, groupEnd, end);
        // Where the loops pass after pass look at the budget: mosaics before each row, plain images
        // after each batch.
        std::size_t firstSlot = 0;
        for (; r < groupEnd && status == ReadStatus::Ok; ++r) {
            if (mosaic && laneExhausted(lane)) break;
            const Band band = s_.plan.band(r);
            status = addBand(lane, static_cast<std::uint32_t>(r), band, firstSlot);
            if (status != ReadStatus::Ok) break;
            firstSlot += static_cast<std::size_t>((band.size - 1) * s_.reader.rowsPerCell());
            for (std::uint64_t pass = 1; pass < band.taken; ++pass)
                visited_[lane.nextVisit[pass]++] = 1;
            if (!mosaic && laneExhausted(lane)) break;
        }
        if (lane.spare) std::swap(lane.source, lane.spare);
        if (status == ReadStatus::TimedOut) {
            // Refused for want of time: the band keeps what the first pass gave it.
            lane.exhausted = true;
            break;
        }
        if (status != ReadStatus::Ok) return status;
        if (r < groupEnd) {
            lane.exhausted = true;
            break;
        }
    }
    return ReadStatus::Ok;
}

// A second lane counts its bytes apart and stops on time alone: the bytes of
// every pass left were found to fit before the bands began.
bool BandReader::laneExhausted(const RowLane& lane) const {
    return lane.isSecondLane ? s_.clock.timeUp() : s_.clock.exhausted();
}

// Where the reader reads ahead, the bands are fetched into two sources of
// their own in turn, one while the other's bands are added; small bands a
// few at a time, since a hand-over between threads costs about as much as a
// small band's reading. Elsewhere, or without the memory, each band is read
// when it comes.
void BandReader::prepareReadAhead() {
    RowLane& lane = s_.main;
    lane.spare.reset();  // the first pass's, which has as few slots as its own
    const std::uint64_t bands = bandsPerGroup(s_);
    if (bands == 0 ||
        visits() * s_.reader.rowsPerCell() * s_.planes * s_.rowBytes < kMinBytesForSecondThread) {
        return;
    }
    const auto slots = static_cast<std::size_t>(bands * s_.bandSlots);
    try {
        std::unique_ptr<RowSource> source = lane.source->sibling(slots);
        std::unique_ptr<RowSource> spare = lane.source->sibling(slots);
        if (!source || !spare) return;
        lane.rows.reserve(slots);
        lane.spareRows.reserve(slots);
        lane.source = std::move(source);
        lane.spare = std::move(spare);
        bandsPerFetch_ = bands;
    } catch (const std::bad_alloc&) {
        // Without room for them, a band at a time through the lane's own source.
    }
}

// Starts fetching the bands from `next` into the spare source while this
// thread adds those before them; the loop's next fetch, of the same rows,
// collects them. Not once the budget is spent: only the bands of a fetch
// whose time runs out while the ones before are added are read and left.
void BandReader::fetchNextAhead(RowLane& lane, std::uint64_t next, std::uint64_t end) const {
    if (!lane.spare || next >= end || lanesStopped_ || laneExhausted(lane)) return;
    gatherRows(lane.spareRows, next, std::min(end, next + bandsPerFetch_));
    static_cast<void>(lane.spare->fetchAhead(lane.spareRows, 0, s_.planes));
}

// The file rows of every working row of the bands of output rows
// [first, end) but each band's middle one, in order: slot i of a plane's
// fetch holds the i-th.
void BandReader::gatherRows(std::vector<std::uint64_t>& rows, std::uint64_t first,
                            std::uint64_t end) const {
    const std::uint32_t rowsPerCell = s_.reader.rowsPerCell();
    rows.clear();
    for (std::uint64_t r = first; r < end; ++r) {
        const Band band = s_.plan.band(r);
        const std::uint64_t middle = rowInPass(band, 0);
        for (std::uint64_t cell = band.first; cell < band.first + band.size; ++cell) {
            if (cell == middle) continue;
            for (std::uint32_t i = 0; i < rowsPerCell; ++i) rows.push_back(cell * rowsPerCell + i);
        }
    }
}

// Adds the band's rows, which the lane's source has fetched from `firstSlot`
// of each plane's slots on.
ReadStatus BandReader::addBand(RowLane& lane, std::uint32_t outputRow, const Band& band,
                               std::size_t firstSlot) {
    ReadStatus status = ReadStatus::Ok;
    const std::uint32_t rowsPerCell = s_.reader.rowsPerCell();
    for (std::uint32_t plane = 0; plane < s_.planes && status == ReadStatus::Ok; ++plane) {
        const std::size_t planeSlots = plane * lane.rows.size() + firstSlot;
        for (std::uint64_t pass = 1; pass < band.taken && status == ReadStatus::Ok; ++pass) {
            const std::uint64_t cell = rowInPass(band, pass);
            const std::uint64_t visit = lane.nextVisit[pass];
            status =
                s_.addCell(lane, plane, cell, planeSlots + bandSlot(band, cell, rowsPerCell),
                           outputRow, [&](std::uint32_t channel, const float* values, std::size_t) {
                               schedule_.offer(s_.sampler, channel, visit, values);
                           });
        }
    }
    return status;
}

}  // namespace cv
