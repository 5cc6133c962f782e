#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "render/sampling_state.h"

namespace cv {

// The passes after the first, band by band: each band's remaining rows are
// fetched together, two runs of the file instead of a row per visit (one call
// to a source that serves several ranges at once, as the Linux file reader
// does). Each box still adds its rows pass by pass, so the sums are those of
// reading pass after pass, and the schedule gives the sampler the same values.
constexpr std::uint64_t kBytesReadAhead = 512 * 1024;  // the bands of one fetch, at least one

// The bands fetched at once where rows are read and a fetch is worth
// filling: about kBytesReadAhead of them, at least one; 0 where the rows are
// lent from memory or a band alone fills half a fetch.
std::uint64_t bandsPerGroup(const SamplingState& s);

class BandReader {
public:
    explicit BandReader(SamplingState& state) : s_(state) {}

    // Whether the passes left go band by band: only after a first pass over
    // every output row, with every row of every band to be read, at one row
    // per visit, and when all the passes left are predicted to fit the
    // budgets, since a cut would leave the bands below it thinner than those
    // above.
    bool plan(std::uint32_t rowsPerRead);
    // Adds every band's remaining rows, on two lanes where that pays; after plan().
    [[nodiscard]] ReadStatus sampleRest();
    // Adds the bands of output rows [first, end) through `lane`.
    [[nodiscard]] ReadStatus addBands(RowLane& lane, std::uint64_t first, std::uint64_t end);

    std::uint64_t visits() const { return visited_.size(); }
    // A lane failed: the others stop at their next band.
    void stopLanes() { lanesStopped_ = true; }
    SamplingState& state() const { return s_; }

private:
    bool laneExhausted(const RowLane& lane) const;
    void prepareReadAhead();
    void fetchNextAhead(RowLane& lane, std::uint64_t next, std::uint64_t end) const;
    void gatherRows(std::vector<std::uint64_t>& rows, std::uint64_t first, std::uint64_t end) const;
    ReadStatus addBand(RowLane& lane, std::uint32_t outputRow, const Band& band,
                       std::size_t firstSlot);

    SamplingState& s_;
    SampleSchedule schedule_;
    std::vector<std::uint8_t> visited_;  // of each planned visit: whether its rows were added
    std::atomic<bool> lanesStopped_{false};
    // More where the reader reads ahead, or two lanes read in turns.
    std::uint64_t bandsPerFetch_ = 1;
};

}  // namespace cv
