#include "render/first_pass_smoothing.h"

#include <algorithm>
#include <vector>

#include "render/sampling_plan.h"

namespace cv {

namespace {

constexpr std::uint32_t kMinRowsForSmoothing = 24;
constexpr std::uint64_t kSmoothBelowPercent = 90;  // of the output rows visited in pass 0

// A small RGB raster, row-major.
struct SmallPicture {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::vector<std::uint8_t> pixels;

    double at(std::uint64_t y, std::uint64_t x, std::uint64_t c) const {
        return static_cast<double>(pixels[static_cast<std::size_t>((y * width + x) * 3 + c)]);
    }
};

// The mean of each box of `image` that one small pixel covers, truncated.
SmallPicture boxReduced(const RgbImage& image, std::uint64_t width, std::uint64_t height) {
    SmallPicture small{width, height,
                       std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 3))};
    for (std::uint64_t sy = 0; sy < height; ++sy) {
        const Band rows = bandOf(sy, height, image.height, kWholeBand);
        for (std::uint64_t sx = 0; sx < width; ++sx) {
            const Band columns = bandOf(sx, width, image.width, kWholeBand);
            std::uint64_t sums[3] = {0, 0, 0};
            for (std::uint64_t y = rows.first; y < rows.first + rows.size; ++y) {
                const std::uint8_t* pixel =
                    image.row(static_cast<std::uint32_t>(y)) + columns.first * 3;
                for (std::uint64_t x = 0; x < columns.size; ++x, pixel += 3) {
                    for (int c = 0; c < 3; ++c) sums[c] += pixel[c];
                }
            }
            const std::uint64_t count = std::max<std::uint64_t>(rows.size * columns.size, 1);
            std::uint8_t* out = &small.pixels[static_cast<std::size_t>((sy * width + sx) * 3)];
            for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>(sums[c] / count);
        }
    }
    return small;
}

// Where a target pixel's centre falls between two source pixels.
struct Tap {
    std::uint64_t index;
    std::uint64_t next;
    double fraction;
};

std::vector<Tap> bilinearTaps(std::uint64_t targets, std::uint64_t sources) {
    std::vector<Tap> taps(static_cast<std::size_t>(targets));
    const double ratio = static_cast<double>(sources) / static_cast<double>(targets);
    for (std::uint64_t t = 0; t < targets; ++t) {
        const double position = std::max((static_cast<double>(t) + 0.5) * ratio - 0.5, 0.0);
        const auto index = std::min(static_cast<std::uint64_t>(position), sources - 1);
        taps[t] = {index, std::min(index + 1, sources - 1), position - static_cast<double>(index)};
    }
    return taps;
}

void enlargeInto(const SmallPicture& small, RgbImage& image) {
    const std::vector<Tap> columnTaps = bilinearTaps(image.width, small.width);
    const std::vector<Tap> rowTaps = bilinearTaps(image.height, small.height);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const Tap& ry = rowTaps[y];
        std::uint8_t* out = image.row(y);
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const Tap& rx = columnTaps[x];
            for (std::uint64_t c = 0; c < 3; ++c) {
                const double topLeft = small.at(ry.index, rx.index, c);
                const double bottomLeft = small.at(ry.next, rx.index, c);
                const double top =
                    topLeft + (small.at(ry.index, rx.next, c) - topLeft) * rx.fraction;
                const double bottom =
                    bottomLeft + (small.at(ry.next, rx.next, c) - bottomLeft) * rx.fraction;
                const double value = top + (bottom - top) * ry.fraction + 0.5;
                out[x * 3 + c] = static_cast<std::uint8_t>(std::clamp(value, 0.0, 255.0));
            }
        }
    }
}

}  // namespace

bool smoothThinFirstPass(RgbImage& image, std::uint64_t rowsVisited) {
    const std::uint64_t height = image.height;
    if (image.empty() || rowsVisited < kMinRowsForSmoothing || rowsVisited >= height ||
        rowsVisited * 100 >= height * kSmoothBelowPercent) {
        return false;
    }
    const std::uint64_t smallWidth =
        std::max<std::uint64_t>((image.width * rowsVisited + height / 2) / height, 1);
    enlargeInto(boxReduced(image, smallWidth, rowsVisited), image);
    return true;
}

}  // namespace cv
