#include "formats/subtractive_dither.h"

namespace cv {

namespace {

constexpr double kMultiplier = 16807.0;
constexpr double kModulus = 2147483647.0;
constexpr std::size_t kStartSpread = 500;  // a seed's value picks its first index below this

std::array<float, kDitherValues> makeDitherValues() {
    std::array<float, kDitherValues> values{};
    double seed = 1.0;
    for (auto& value : values) {
        const double product = kMultiplier * seed;
        seed =
            product - kModulus * static_cast<double>(static_cast<std::int64_t>(product / kModulus));
        value = static_cast<float>(seed / kModulus);
    }
    return values;
}

}  // namespace

const std::array<float, kDitherValues>& ditherValues() {
    static const std::array<float, kDitherValues> values = makeDitherValues();
    return values;
}

DitherWalk::DitherWalk(std::uint64_t tileIndex, std::int64_t ditherSeed) : values_(ditherValues()) {
    constexpr auto kCount = static_cast<std::int64_t>(kDitherValues);
    const std::int64_t tile = static_cast<std::int64_t>(tileIndex % kDitherValues);
    const std::int64_t seed = ((tile + ditherSeed % kCount - 1) % kCount + kCount) % kCount;
    startAt(static_cast<std::size_t>(seed));
}

void DitherWalk::startAt(std::size_t seed) {
    seed_ = seed;
    next_ = static_cast<std::size_t>(values_[seed_] * static_cast<float>(kStartSpread));
}

float DitherWalk::next() {
    const float value = values_[next_];
    if (++next_ == kDitherValues) startAt(seed_ + 1 == kDitherValues ? 0 : seed_ + 1);
    return value;
}

}  // namespace cv
