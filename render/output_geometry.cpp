#include "render/output_geometry.h"

#include <algorithm>
#include <cmath>

#include "render/box_accumulator.h"

namespace cv {

namespace {

// The area estimate lands within a row or column of fitting; these steps finish it.
constexpr int kMaxFitSteps = 64;

bool fits(const OutputSize& size, std::uint32_t channels, std::uint64_t workingMemory) {
    const auto bytes = accumulatorBytes(size.width, size.height, channels);
    return bytes && *bytes <= workingMemory;
}

}  // namespace

OutputSize fitOutput(std::uint64_t width, std::uint64_t height, std::uint32_t maxSize) {
    const std::uint64_t m = maxSize == 0 ? 1 : maxSize;
    if (width <= m && height <= m) {
        return {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
    }
    const std::uint64_t longer = std::max(width, height);
    const std::uint64_t shorter = std::min(width, height);
    const auto scaled = static_cast<std::uint32_t>(std::max<std::uint64_t>(
        (shorter * m + longer / 2) / longer, 1));  // readers cap sides at 100,000 px
    const auto full = static_cast<std::uint32_t>(m);
    return width >= height ? OutputSize{full, scaled} : OutputSize{scaled, full};
}

void fitMemory(OutputSize& size, std::uint32_t channels, std::uint64_t workingMemory) {
    const auto bytes = accumulatorBytes(size.width, size.height, channels);
    if (!bytes || *bytes <= workingMemory || workingMemory == 0) return;
    const double factor =
        std::sqrt(static_cast<double>(workingMemory) / static_cast<double>(*bytes));
    OutputSize fitted{std::max<std::uint32_t>(static_cast<std::uint32_t>(size.width * factor), 1),
                      std::max<std::uint32_t>(static_cast<std::uint32_t>(size.height * factor), 1)};
    for (int step = 0; step < kMaxFitSteps && !fits(fitted, channels, workingMemory); ++step) {
        std::uint32_t& longer = fitted.width >= fitted.height ? fitted.width : fitted.height;
        if (longer == 1) break;
        --longer;
    }
    size = fitted;
}

}  // namespace cv
