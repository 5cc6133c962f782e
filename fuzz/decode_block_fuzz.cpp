// Block decoding with the codec, declared size and shuffling taken from the
// input's first bytes, the rest as the stored block.
#include <cstdint>
#include <vector>

#include "formats/data_block.h"

namespace {

constexpr std::uint64_t kMaxDecodedBytes = 1 << 22;  // far below the fuzzer's memory cap
constexpr std::size_t kHeaderBytes = 6;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes) return 0;
    cv::ImageBlock block;
    block.codec = static_cast<cv::Codec>(data[0] % 6);
    block.byteShuffled = (data[1] & 0x80) != 0;
    block.shuffleItemSize = data[1] & 0x7F;
    // Declared sizes up to 16 MiB, so the product's own limit is exercised too.
    block.uncompressedSize = (static_cast<std::uint64_t>(data[2]) << 16) |
                             (static_cast<std::uint64_t>(data[3]) << 8) | data[4];
    block.uncompressedSize <<= (data[5] & 0x3);
    std::vector<std::uint8_t> output;
    static_cast<void>(
        cv::decodeBlock(data + kHeaderBytes, size - kHeaderBytes, block, output, kMaxDecodedBytes));
    return 0;
}
