#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <optional>
#include <string_view>

#include "core/image_data.h"
#include "core/reader.h"

namespace cv {

// Colour indices (R 0, G 1, B 2) of a 2 x 2 cell: top-left, top-right,
// bottom-left, bottom-right.
struct BayerPattern {
    std::array<std::uint8_t, 4> colors = {0, 1, 1, 2};  // RGGB
};

// Four upper-case letters R, G, B with exactly one R, two G and one B.
std::optional<BayerPattern> parseBayerPattern(std::string_view text);

// The header declares a 2 x 2 cell with a four-letter pattern.
bool hasBayerPattern(const ImageData& data);

// IMAGETYP, then FRAME, contains one of the lower-case `words` (ASCII case
// ignored in the value).
bool frameTypeMatches(const ImageData& data, std::span<const std::string_view> words);

// Calibration frames that carry no colour: never demosaiced automatically.
constexpr std::array<std::string_view, 5> kColorlessFrameWords = {"dark", "bias", "zero",
                                                                  "darkflat", "flatdark"};
// Calibration frames that always get the full stretch.
constexpr std::array<std::string_view, 4> kCalibrationFrameWords = {"dark", "bias", "zero", "flat"};

// Reads a few row pairs spread over the image and reports a mosaic when the
// four cell positions differ in mean level by more than 2 %.
bool probeBayer(Reader& reader, std::uint64_t dataStart, std::uint64_t rowBytes,
                std::uint64_t width, std::uint64_t height, SampleFormat format, bool bigEndian,
                float scale, float offset);

// One colour row of `cells` pixels from each pair of mosaic rows (2 * cells
// samples each): the superpixel of each 2 x 2 cell, no interpolation.
void demosaicRowPair(const float* first, const float* second, std::size_t cells,
                     const BayerPattern& pattern, float* red, float* green, float* blue);

}  // namespace cv
