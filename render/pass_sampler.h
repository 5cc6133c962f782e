#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "render/band_reader.h"
#include "render/sampling_state.h"

namespace cv {

// The passes over the output rows: the first, which steps as the budgets
// allow, and the later ones row by row, unless the band reader takes them
// over after the first. Plain images are read in batches of runs, a run of
// rows per visit on slow sources, the next batch read ahead while its steps
// are known; mosaics a pair of rows per visit, read ahead likewise. Once the
// budget's time runs out and a read is refused, sampling ends with the rows
// read by then.
class PassSampler {
public:
    // Throws std::bad_alloc.
    explicit PassSampler(SamplingState& state);

    // File rows the main lane fetches at once: enough for a batch, within
    // the largest fetch, whole pairs for a mosaic.
    static std::size_t rowsPerCall(std::uint64_t rowBytes, std::uint32_t rowsPerRead, bool mosaic);

    [[nodiscard]] ReadStatus run();

private:
    // Where the batch after the one being read begins, and how it is made.
    struct NextBatch {
        std::uint64_t from;  // output row
        std::uint64_t pass;
        std::uint32_t rowsPerRead;
        std::size_t limit;    // of runs
        std::size_t runsNow;  // the runs of the batch being read
    };

    struct RowRun {
        std::uint32_t outputRow;
        std::uint64_t firstRow;
        std::uint64_t count;
    };

    ReadStatus samplePlain();
    template <typename Step>
    bool gatherBatch(std::uint64_t& r, std::uint64_t pass, std::uint32_t rowsPerRead,
                     std::size_t limit, std::vector<RowRun>& batch, Step step) const;
    bool predictNextBatch(std::size_t fetchedRows);
    ReadStatus readBatch(const std::vector<RowRun>& batch, std::size_t& visited);
    std::size_t keepRowsRead(const std::vector<RowRun>& batch, std::size_t rowsAdded);
    ReadStatus addPendingRows(std::uint32_t plane, std::size_t& rowsAdded);
    ReadStatus stopReading();
    ReadStatus sampleMosaic();
    ReadStatus fetchCellRows(std::uint64_t outputRow, std::uint64_t pass, std::uint64_t cell,
                             std::size_t& slot);
    void prefetchLikelyNextCells(std::uint64_t outputRow, std::uint64_t pass) const;
    ReadStatus addFirstPassCell(std::uint32_t plane, std::uint64_t cell, std::size_t slot,
                                std::uint32_t outputRow);

    SamplingState& s_;
    BandReader bands_;
    std::vector<std::uint32_t> pendingOutputRows_;  // of the main lane's rows
    std::size_t nextPending_ = 0;               // mosaics: the pair of rows read ahead to use next
    bool batchInOneFetch_ = false;              // plain: the batch takes one fetch a plane
    std::optional<NextBatch> next_;             // plain: none while the pace may change
    std::vector<RowRun> predicted_;             // plain: the next batch's runs, if known
    std::vector<std::uint64_t> nextBatchRows_;  // plain: of the next batch's first plane, if known
};

}  // namespace cv
