#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "core/image_data.h"
#include "core/read_status.h"

namespace cv {

// XISF `location` attribute: "attachment:POSITION:SIZE", "inline",
// "inline:base64" or "embedded". False rejects the text.
bool parseLocation(std::string_view text, ImageBlock& block);

// XISF `compression` attribute: "CODEC[+sh]:UNCOMPRESSED_SIZE[:ITEM_SIZE]".
bool parseCompression(std::string_view text, ImageBlock& block);

// Asked between the pieces of a long decode (zstd frames, zlib output
// pieces); any status but Ok abandons the decode with that status.
using DecodeCheckpoint = std::function<ReadStatus()>;

// Decodes a compressed block into exactly `block.uncompressedSize` bytes
// (at most `maxSize`), then un-shuffles it when the block says so. Never
// throws: allocation failure is TooLarge.
[[nodiscard]] ReadStatus decodeBlock(const std::uint8_t* source, std::uint64_t sourceLength,
                                     const ImageBlock& block, std::vector<std::uint8_t>& output,
                                     std::uint64_t maxSize, const DecodeCheckpoint& checkpoint = {});

// Inverse of XISF byte shuffling (byte 0 of every item, then byte 1, ...).
// False, with the bytes left shuffled, when its working copy cannot be made.
[[nodiscard]] bool unshuffle(std::vector<std::uint8_t>& buffer, std::uint32_t itemSize);

}  // namespace cv
