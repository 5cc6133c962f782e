#pragma once

#include <cstdint>

namespace cv {

struct OutputSize {
    std::uint32_t width;
    std::uint32_t height;
};

// The picture's size: the working raster fitted, shape kept, within
// `maxSize` on its longer side (0 counts as 1), never enlarged.
OutputSize fitOutput(std::uint64_t width, std::uint64_t height, std::uint32_t maxSize);

// Shrinks `size`, shape kept, until the accumulator's arrays for `channels`
// fit in `workingMemory` bytes; a size that cannot fit is left for the
// accumulator to refuse.
void fitMemory(OutputSize& size, std::uint32_t channels, std::uint64_t workingMemory);

}  // namespace cv
