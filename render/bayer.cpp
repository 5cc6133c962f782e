#include "render/bayer.h"

#include <algorithm>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "core/text_utils.h"
#include "render/avx2_kernels.h"
#include "render/instruction_set.h"
#include "render/sample_conversion.h"

namespace cv {

namespace {

constexpr std::uint64_t kMinProbeWidth = 4;
constexpr std::uint64_t kMinProbeHeight = 8;
constexpr std::uint64_t kProbeRowPairs = 8;
constexpr double kMosaicSpread = 0.02;  // (largest - smallest) / mean of the cell positions

bool containsWord(std::string_view text, std::span<const std::string_view> words) {
    const std::string value = lowerAscii(text);
    return std::any_of(words.begin(), words.end(), [&](std::string_view word) {
        return value.find(word) != std::string::npos;
    });
}

// One colour's output row from the cell positions that carry it, from cell `from` on.
void averagePositionsFrom(const float* first, const float* second, std::size_t from,
                          std::size_t cells, const std::array<std::uint8_t, 4>& positions,
                          std::size_t used, float* out) {
    // Samples of one cell position sit two apart, starting in its row at its column.
    auto start = [&](std::uint8_t position) {
        return (position < 2 ? first : second) + (position & 1u);
    };
    if (used == 0) {
        std::fill(out + from, out + cells, 0.0f);
    } else if (used == 1) {
        const float* p = start(positions[0]);
        for (std::size_t i = from; i < cells; ++i) out[i] = p[2 * i];
    } else if (used == 2) {
        const float* p = start(positions[0]);
        const float* q = start(positions[1]);
        for (std::size_t i = from; i < cells; ++i) out[i] = (p[2 * i] + q[2 * i]) / 2.0f;
    } else {
        const auto count = static_cast<float>(used);
        for (std::size_t i = from; i < cells; ++i) {
            float sum = 0.0f;
            for (std::size_t k = 0; k < used; ++k) sum += start(positions[k])[2 * i];
            out[i] = sum / count;
        }
    }
}

void averagePositions(const float* first, const float* second, std::size_t cells,
                      const std::array<std::uint8_t, 4>& positions, std::size_t used, float* out) {
    std::size_t done = 0;
#if CORVANE_AVX2_KERNELS
    if (activeInstructionSet() == InstructionSet::Avx2) {
        done = avx2::averagePositions(first, second, cells, positions, used, out);
    }
#endif
    averagePositionsFrom(first, second, done, cells, positions, used, out);
}

}  // namespace

std::optional<BayerPattern> parseBayerPattern(std::string_view text) {
    if (text.size() != 4) return std::nullopt;
    BayerPattern pattern;
    std::array<int, 3> counts{};
    for (std::size_t i = 0; i < 4; ++i) {
        switch (text[i]) {
            case 'R':
                pattern.colors[i] = 0;
                break;
            case 'G':
                pattern.colors[i] = 1;
                break;
            case 'B':
                pattern.colors[i] = 2;
                break;
            default:
                return std::nullopt;
        }
        ++counts[pattern.colors[i]];
    }
    if (counts[0] != 1 || counts[1] != 2 || counts[2] != 1) return std::nullopt;
    return pattern;
}

bool hasBayerPattern(const ImageData& data) {
    return data.cfaWidth == 2 && data.cfaHeight == 2 && data.cfaPattern.size() == 4;
}

bool frameTypeMatches(const ImageData& data, std::span<const std::string_view> words) {
    for (const char* keyword : {"IMAGETYP", "FRAME"}) {
        const std::string value = keywordValue(data, keyword);
        if (!value.empty() && containsWord(value, words)) return true;
    }
    return false;
}

bool probeBayer(Reader& reader, std::uint64_t dataStart, std::uint64_t rowBytes,
                std::uint64_t width, std::uint64_t height, SampleFormat format, bool bigEndian,
                float scale, float offset) {
    if (width < kMinProbeWidth || height < kMinProbeHeight) return false;
    // A row longer than the whole source cannot be read; do not allocate for it.
    if (rowBytes > reader.size() || width > rowBytes) return false;
    std::array<double, 4> sums{};
    std::array<std::uint64_t, 4> counts{};
    try {
        std::vector<unsigned char> raw(static_cast<std::size_t>(rowBytes));
        std::vector<float> values(static_cast<std::size_t>(width));
        for (std::uint64_t i = 0; i < kProbeRowPairs; ++i) {
            const std::uint64_t y = ((2 * i + 1) * height / 16) & ~std::uint64_t{1};
            if (y + 1 >= height) break;
            for (std::uint64_t parity = 0; parity < 2; ++parity) {
                const auto offsetInData = safeMultiply(y + parity, rowBytes);
                if (!offsetInData ||
                    *offsetInData > std::numeric_limits<std::uint64_t>::max() - dataStart)
                    return false;
                if (readExact(reader, dataStart + *offsetInData, raw.data(), rowBytes) !=
                    ReadStatus::Ok)
                    return false;
                if (!convertRow(raw.data(), values.size(), format, bigEndian, scale, offset,
                                values.data()))
                    return false;
                for (std::uint64_t x = 1; x < width; x += 2) {
                    sums[parity * 2] += values[x - 1];
                    sums[parity * 2 + 1] += values[x];
                    ++counts[parity * 2];
                    ++counts[parity * 2 + 1];
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::array<double, 4> means{};
    for (std::size_t p = 0; p < 4; ++p) {
        if (counts[p] == 0) return false;
        means[p] = sums[p] / static_cast<double>(counts[p]);
    }
    const auto [smallest, largest] = std::minmax_element(means.begin(), means.end());
    const double average = (means[0] + means[1] + means[2] + means[3]) / 4.0;
    if (!(average > 0.0)) return false;
    return (*largest - *smallest) / average > kMosaicSpread;
}

void demosaicRowPair(const float* first, const float* second, std::size_t cells,
                     const BayerPattern& pattern, float* red, float* green, float* blue) {
    float* outputs[3] = {red, green, blue};
    for (std::uint8_t color = 0; color < 3; ++color) {
        std::array<std::uint8_t, 4> positions{};
        std::size_t used = 0;
        for (std::uint8_t position = 0; position < 4; ++position) {
            if (pattern.colors[position] == color) positions[used++] = position;
        }
        averagePositions(first, second, cells, positions, used, outputs[color]);
    }
}

}  // namespace cv
