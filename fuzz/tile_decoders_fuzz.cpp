// The tile decoders on any bytes: the first bytes choose the decoder, its
// parameters and the tile's size, the rest is the compressed tile.
#include <cstdint>
#include <span>
#include <vector>

#include "formats/hcompress_codec.h"
#include "formats/plio_codec.h"
#include "formats/rice_codec.h"

namespace {

constexpr std::size_t kHeaderBytes = 4;
constexpr std::uint32_t kMaxSide = 256;  // pixels: tiles up to 256 x 256

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes) return 0;
    const std::uint32_t width = 1 + data[1] % kMaxSide;
    const std::uint32_t height = 1 + data[2] % kMaxSide;
    const std::span<const std::uint8_t> tile(data + kHeaderBytes, size - kHeaderBytes);
    std::vector<std::int32_t> pixels(static_cast<std::size_t>(width) * height);
    switch (data[0] % 3) {
        case 0: {
            constexpr std::uint32_t kBytePix[] = {1, 2, 4, 8};
            static_cast<void>(cv::decodeRice(tile, kBytePix[data[3] % 4], 1 + data[3] / 4, pixels));
            break;
        }
        case 1:
            static_cast<void>(cv::decodePlio(tile, pixels));
            break;
        default:
            static_cast<void>(cv::decodeHcompress(tile, width, height, (data[3] & 1) != 0, pixels));
            break;
    }
    return 0;
}
