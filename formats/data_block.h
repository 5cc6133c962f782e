#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "core/image_data.h"
#include "core/large_allocator.h"
#include "core/read_status.h"
#include "core/reader.h"

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
                                     std::uint64_t maxSize,
                                     const DecodeCheckpoint& checkpoint = {});
[[nodiscard]] ReadStatus decodeBlock(const std::uint8_t* source, std::uint64_t sourceLength,
                                     const ImageBlock& block, LargeBytes& output,
                                     std::uint64_t maxSize,
                                     const DecodeCheckpoint& checkpoint = {});

// Inverse of XISF byte shuffling (byte 0 of every item, then byte 1, ...).
// False, with the bytes left shuffled, when its working copy cannot be made.
[[nodiscard]] bool unshuffle(std::span<std::uint8_t> buffer, std::uint32_t itemSize);

// Reads a byte-shuffled buffer (which must outlive it) as if it had been
// unshuffled, gathering only the bytes asked for: a large block needs no
// second copy, and the rows a render never samples cost nothing.
class UnshufflingReader final : public Reader {
public:
    UnshufflingReader(const std::uint8_t* shuffled, std::uint64_t length, std::uint32_t itemSize);
    std::uint64_t size() const override { return length_; }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;

private:
    std::uint8_t byteAt(std::uint64_t position) const;

    const std::uint8_t* data_;
    std::uint64_t length_;
    std::uint64_t itemSize_;
    std::uint64_t items_;  // whole items; the bytes after them are stored as they are
};

}  // namespace cv
