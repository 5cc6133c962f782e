#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace cv {

constexpr std::size_t kDitherValues = 10000;

// The tiled-image convention's fixed sequence of uniform values in (0, 1)
// that quantised floating-point tiles were dithered with (a Park-Miller
// generator from seed 1, held in single precision), built once.
const std::array<float, kDitherValues>& ditherValues();

// The values one tile was dithered with, pixel by pixel: the tile's place
// and ZDITHER0 choose where in the sequence it starts.
class DitherWalk {
public:
    DitherWalk(std::uint64_t tileIndex, std::int64_t ditherSeed);
    float next();

private:
    void startAt(std::size_t seed);

    const std::array<float, kDitherValues>& values_;
    std::size_t seed_ = 0;
    std::size_t next_ = 0;
};

}  // namespace cv
