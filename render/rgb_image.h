#pragma once

#include <cstdint>
#include <vector>

#include "core/large_allocator.h"

namespace cv {

constexpr std::uint64_t kMaxRgbImageBytes = 0x10000000;  // 256 MiB of pixels

// 8-bit R, G, B per pixel, rows top to bottom.
struct RgbImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    LargeBytes pixels;

    bool empty() const { return width == 0 || height == 0 || pixels.empty(); }
    std::uint8_t* row(std::uint32_t y) {
        return pixels.data() + static_cast<std::size_t>(y) * width * 3;
    }
    const std::uint8_t* row(std::uint32_t y) const {
        return pixels.data() + static_cast<std::size_t>(y) * width * 3;
    }
};

// Makes `image` a black picture of the given size; false (and an empty
// image) for a zero side, more than 256 MiB of pixels, or no memory.
bool resizeRgbImage(RgbImage& image, std::uint32_t width, std::uint32_t height);

}  // namespace cv
