#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/large_allocator.h"
#include "core/read_status.h"

namespace cv {

// Area-averages rows into an output raster, remembering each box's brightest
// sample when asked to. Memory depends on the output size only.
struct BoxAccumulator {
    std::uint32_t outWidth = 0;
    std::uint32_t outHeight = 0;
    std::uint32_t channels = 0;
    std::uint64_t sourceWidth = 0;
    std::vector<std::uint32_t> columnStart;  // source columns [start, end) of each output column
    std::vector<std::uint32_t> columnEnd;
    LargeFloats sums;    // channel-major: channel, row, column
    LargeFloats maxima;  // same shape; empty when no maxima are kept
    // Rows added to each output row, on channel 0: every box of a row takes
    // the same rows, so its count is that times its width.
    std::vector<std::uint32_t> rowsAdded;

    float sum(std::uint32_t channel, std::uint32_t row, std::uint32_t column) const {
        return sums[index(channel, row, column)];
    }
    float maximum(std::uint32_t channel, std::uint32_t row, std::uint32_t column) const {
        return maxima[index(channel, row, column)];
    }
    std::uint32_t count(std::uint32_t row, std::uint32_t column) const {
        return rowsAdded[row] * (columnEnd[column] - columnStart[column]);
    }
    std::size_t index(std::uint32_t channel, std::uint32_t row, std::uint32_t column) const {
        return (static_cast<std::size_t>(channel) * outHeight + row) * outWidth + column;
    }
};

constexpr std::uint32_t kMaxAccumulatorChannels = 4;
// Initial box maximum: -3.0e38 (bits 0xFF61B1E6), below any working value.
constexpr std::uint32_t kInitialMaximumBits = 0xFF61B1E6;

// Bytes the arrays take: sums and maxima per channel and box, the rows
// added per output row, and the two column tables; nothing on overflow.
std::optional<std::uint64_t> accumulatorBytes(std::uint32_t outWidth, std::uint32_t outHeight,
                                              std::uint32_t channels);

// Malformed for a zero size, 1 to 4 channels violated or a source width
// outside 1 to kMaxImageSide; TooLarge when the arrays exceed `memoryLimit` bytes or
// cannot be allocated (counting the maxima, kept or not, so that the sizes a
// budget allows stay the same). Without `keepMaxima` only the sums are kept:
// half the memory touched and less work, for pictures that blend no peaks in.
[[nodiscard]] ReadStatus prepareAccumulator(BoxAccumulator& accumulator, std::uint32_t outWidth,
                                            std::uint32_t outHeight, std::uint32_t channels,
                                            std::uint64_t sourceWidth, std::uint64_t memoryLimit,
                                            bool keepMaxima = true);

// Adds one row of `sourceWidth` values to output row `row` of `channel`;
// out-of-range channels or rows and null rows are ignored.
void accumulateRow(BoxAccumulator& accumulator, std::uint32_t channel, std::uint32_t row,
                   const float* values);

// Empties output row `row` of every channel, as if nothing had been added to
// it; an out-of-range row is ignored.
void clearRow(BoxAccumulator& accumulator, std::uint32_t row);

}  // namespace cv
