#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/image_data.h"
#include "core/read_status.h"
#include "render/bayer.h"
#include "render/row_source.h"

namespace cv {

// One thread's way to the rows: its source, the rows it will fetch next,
// its conversion buffers, and what it has converted.
struct RowLane {
    std::unique_ptr<RowSource> source;
    std::vector<std::uint64_t> rows;  // file rows of the next fetch
    // Where the next band is fetched ahead while this one is added, and its
    // rows; null when the lane reads each band when it comes to it.
    std::unique_ptr<RowSource> spare;
    std::vector<std::uint64_t> spareRows;
    std::vector<float> values;
    std::vector<float> secondValues;       // a mosaic's second row
    std::vector<float> colorRows;          // a mosaic's three colour rows
    std::vector<std::uint64_t> nextVisit;  // of each pass, in the order pass after pass would take
    std::uint64_t bytesRead = 0;           // of the rows converted
    std::uint64_t rowsRead = 0;
    bool exhausted = false;
    bool isSecondLane = false;  // counts its bytes apart from the budget
};

// Working rows ("cells") as working values: one file row of a plain image,
// or a mosaic's pair of rows demosaiced into three colour rows of half the
// width. Plain and mosaic data go through the same `add`.
class RowReader {
public:
    RowReader(const ImageBlock& block, const Normalization& working,
              std::optional<BayerPattern> mosaic);

    bool mosaic() const { return mosaic_.has_value(); }
    std::uint32_t rowsPerCell() const { return mosaic_ ? 2 : 1; }
    std::uint64_t cellWidth() const { return mosaic_ ? width_ / 2 : width_; }
    // Sizes a lane's conversion buffers. Throws std::bad_alloc.
    void prepare(RowLane& lane) const;

    // Converts cell `cell` of `plane` from the lane's fetched rows (its first
    // file row in `slot`, a mosaic's second in the next) and gives `add` each
    // channel's values: (channel, values, count).
    template <typename Add>
    ReadStatus add(RowLane& lane, std::uint32_t plane, std::uint64_t cell, std::size_t slot,
                   Add&& add) const {
        if (!mosaic_) {
            const ReadStatus status = convert(lane, plane, cell, slot, lane.values);
            if (status == ReadStatus::Ok) add(plane, lane.values.data(), lane.values.size());
            return status;
        }
        ReadStatus status = convert(lane, 0, 2 * cell, slot, lane.values);
        if (status == ReadStatus::Ok)
            status = convert(lane, 0, 2 * cell + 1, slot + 1, lane.secondValues);
        if (status != ReadStatus::Ok) return status;
        const auto cells = static_cast<std::size_t>(cellWidth());
        const float* colours = demosaic(lane);
        for (std::uint32_t c = 0; c < 3; ++c) add(c, colours + c * cells, cells);
        return ReadStatus::Ok;
    }

private:
    ReadStatus convert(RowLane& lane, std::uint32_t plane, std::uint64_t row, std::size_t slot,
                       std::vector<float>& values) const;
    const float* demosaic(RowLane& lane) const;

    SampleFormat format_;
    bool bigEndian_;
    Normalization working_;
    std::uint64_t width_;
    std::uint64_t rowBytes_;
    std::optional<BayerPattern> mosaic_;
};

}  // namespace cv
