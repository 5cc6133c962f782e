// A tile-compressed FITS file on any bytes: the header walk, the table's
// description and every tile read back through the decoded-image reader.
#include <cstdint>
#include <new>
#include <vector>

#include "formats/image_header.h"
#include "formats/tiled_image_reader.h"

namespace {

constexpr std::uint64_t kMaxTileBytes = 1 << 22;   // bytes, far below the fuzzer's memory cap
constexpr std::uint64_t kMaxImageBytes = 1 << 24;  // bytes of decoded image read back
constexpr std::uint64_t kRowsRead = 64;            // rows spread over the image

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cv::MemoryReader reader(data, size);
    cv::ImageData image;
    try {
        if (cv::readImageHeader(reader, image) != cv::ReadStatus::Ok || !image.image.tiles)
            return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    cv::TiledImageReader tiles(reader, image.image, kMaxTileBytes);
    const std::uint64_t rows = image.image.height * image.image.channels;
    const std::uint64_t rowBytes = tiles.size() / rows;
    if (tiles.size() > kMaxImageBytes) return 0;
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint64_t i = 0; i < kRowsRead && i < rows; ++i) {
        if (!tiles.read(rows * i / kRowsRead * rowBytes, row.data(), rowBytes)) break;
    }
    return 0;
}
