#include "formats/data_block.h"

#include <lz4.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <span>

#include "core/text_utils.h"

namespace cv {

namespace {

constexpr std::size_t kMaxAttributeFields = 4;
constexpr std::uint32_t kMaxShuffleItemSize = 64;     // bytes
constexpr std::uint64_t kMaxLz4Length = 2147483647;   // LZ4's int lengths
constexpr std::uint64_t kMaxZlibLength = 0xFFFFFFFF;  // zlib's one-shot call takes 32-bit lengths
constexpr std::string_view kShuffleSuffix = "+sh";
constexpr std::uint64_t kZlibPieceBytes =
    8 * 1024 * 1024;  // output between two checkpoints, at most
constexpr std::uint64_t kZlibInputPieceBytes =
    1024 * 1024;                                   // input between two checkpoints, at most
constexpr std::uint32_t kMaxEmptyZstdFrames = 64;  // frames that decode to nothing, per block

struct Fields {
    std::array<std::string_view, kMaxAttributeFields> text;
    std::size_t count = 0;
};

// Splits at ':' from left to right; whatever follows a fourth ':' is not looked at.
Fields splitFields(std::string_view text) {
    Fields fields;
    while (fields.count < kMaxAttributeFields) {
        const std::size_t colon = text.find(':');
        fields.text[fields.count++] = text.substr(0, colon);
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    return fields;
}

bool parseCodecName(std::string_view name, ImageBlock& block) {
    if (name == "zlib")
        block.codec = Codec::Zlib;
    else if (name == "lz4")
        block.codec = Codec::Lz4;
    else if (name == "lz4hc")
        block.codec = Codec::Lz4hc;
    else if (name == "zstd")
        block.codec = Codec::Zstd;
    else
        return false;
    return true;
}

// Inflates in pieces of input and of output, so a long decode can be
// abandoned between them (input that yields nothing, empty blocks say, is as
// long a decode as any); the result is what a one-shot `uncompress` gives.
ReadStatus inflateZlib(const std::uint8_t* source, std::uint64_t sourceLength,
                       std::span<std::uint8_t> output, const DecodeCheckpoint& checkpoint) {
    if (sourceLength > kMaxZlibLength || output.size() > kMaxZlibLength)
        return ReadStatus::TooLarge;
    z_stream stream{};
    stream.next_in = const_cast<Bytef*>(source);  // zlib's API is not const-correct; it only reads
    if (inflateInit(&stream) != Z_OK) return ReadStatus::TooLarge;
    const std::unique_ptr<z_stream, int (*)(z_stream*)> owner(&stream, inflateEnd);
    stream.next_out = output.data();
    std::uint64_t handedOver = 0;
    while (true) {
        if (stream.avail_in == 0) {
            stream.avail_in = static_cast<uInt>(
                std::min<std::uint64_t>(sourceLength - handedOver, kZlibInputPieceBytes));
            handedOver += stream.avail_in;
        }
        stream.avail_out = static_cast<uInt>(
            std::min<std::uint64_t>(output.size() - stream.total_out, kZlibPieceBytes));
        const uInt inputBefore = stream.avail_in;
        const uInt outputBefore = stream.avail_out;
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END) break;
        if (result != Z_OK && result != Z_BUF_ERROR) return ReadStatus::Malformed;
        // No progress: the input ended early, or the output is full before the stream's end.
        if (stream.avail_in == inputBefore && stream.avail_out == outputBefore)
            return ReadStatus::Malformed;
        if (checkpoint) {
            const ReadStatus status = checkpoint();
            if (status != ReadStatus::Ok) return status;
        }
    }
    return stream.total_out == output.size() ? ReadStatus::Ok : ReadStatus::Malformed;
}

ReadStatus decodeLz4(const std::uint8_t* source, std::uint64_t sourceLength,
                     std::span<std::uint8_t> output) {
    if (sourceLength > kMaxLz4Length || output.size() > kMaxLz4Length) return ReadStatus::TooLarge;
    const int produced = LZ4_decompress_safe(
        reinterpret_cast<const char*>(source), reinterpret_cast<char*>(output.data()),
        static_cast<int>(sourceLength), static_cast<int>(output.size()));
    if (produced < 0 || static_cast<std::uint64_t>(produced) != output.size())
        return ReadStatus::Malformed;
    return ReadStatus::Ok;
}

using ZstdContext = std::unique_ptr<ZSTD_DCtx, std::size_t (*)(ZSTD_DCtx*)>;

// Frame by frame, one-shot each, through one reused context. Frames that add
// nothing (skippable or empty ones) are allowed only a few times, so a block
// made of them ends quickly instead of being walked to its end.
ReadStatus decodeZstd(const std::uint8_t* source, std::uint64_t sourceLength,
                      std::span<std::uint8_t> output, const DecodeCheckpoint& checkpoint) {
    const ZstdContext context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!context) return ReadStatus::TooLarge;
    std::uint64_t consumed = 0;
    std::uint64_t produced = 0;
    std::uint32_t emptyFrames = 0;
    while (consumed < sourceLength && produced < output.size()) {
        const std::uint64_t remaining = sourceLength - consumed;
        const std::size_t frameSize =
            ZSTD_findFrameCompressedSize(source + consumed, static_cast<std::size_t>(remaining));
        if (ZSTD_isError(frameSize) || frameSize == 0 || frameSize > remaining)
            return ReadStatus::Malformed;
        const std::size_t written =
            ZSTD_decompressDCtx(context.get(), output.data() + produced, output.size() - produced,
                                source + consumed, frameSize);
        if (ZSTD_isError(written)) return ReadStatus::Malformed;
        if (written == 0 && ++emptyFrames > kMaxEmptyZstdFrames) return ReadStatus::Malformed;
        consumed += frameSize;
        produced += written;
        if (checkpoint) {
            const ReadStatus status = checkpoint();
            if (status != ReadStatus::Ok) return status;
        }
    }
    return produced == output.size() ? ReadStatus::Ok : ReadStatus::Malformed;
}

ReadStatus decompress(const std::uint8_t* source, std::uint64_t sourceLength, Codec codec,
                      std::span<std::uint8_t> output, const DecodeCheckpoint& checkpoint) {
    switch (codec) {
        case Codec::Zlib:
            return inflateZlib(source, sourceLength, output, checkpoint);
        case Codec::Lz4:
        case Codec::Lz4hc:
            return decodeLz4(source, sourceLength, output);
        case Codec::Zstd:
            return decodeZstd(source, sourceLength, output, checkpoint);
        default:
            return ReadStatus::Unsupported;
    }
}

// Sizes `output` to the block and fills it: the same steps whatever holds the bytes.
template <typename Bytes>
ReadStatus decodeInto(const std::uint8_t* source, std::uint64_t sourceLength,
                      const ImageBlock& block, Bytes& output, std::uint64_t maxSize,
                      const DecodeCheckpoint& checkpoint) {
    if (source == nullptr || sourceLength == 0 || block.uncompressedSize == 0)
        return ReadStatus::Malformed;
    if (block.uncompressedSize > maxSize) return ReadStatus::TooLarge;
    if (block.uncompressedSize > std::numeric_limits<std::size_t>::max())
        return ReadStatus::TooLarge;
    try {
        output.assign(static_cast<std::size_t>(block.uncompressedSize), 0);
        const ReadStatus status = decompress(source, sourceLength, block.codec, output, checkpoint);
        if (status != ReadStatus::Ok) return status;
    } catch (const std::bad_alloc&) {
        return ReadStatus::TooLarge;
    }
    // Still-shuffled bytes would draw a scrambled picture as if it were right.
    if (block.byteShuffled && !unshuffle(output, block.shuffleItemSize))
        return ReadStatus::TooLarge;
    return ReadStatus::Ok;
}

}  // namespace

bool parseLocation(std::string_view text, ImageBlock& block) {
    const Fields fields = splitFields(text);
    const std::string_view kind = fields.text[0];
    if (kind == "attachment") {
        if (fields.count != 3) return false;
        const auto position = parseUnsigned64(fields.text[1]);
        const auto size = parseUnsigned64(fields.text[2]);
        if (!position || !size) return false;
        block.location = DataLocation::Attachment;
        block.position = *position;
        block.size = *size;
        return true;
    }
    if (kind == "inline") {
        if (fields.count > 1 && fields.text[1] != "base64") return false;
        block.location = DataLocation::Inline;
        return true;
    }
    if (kind == "embedded") {
        block.location = DataLocation::Embedded;
        return true;
    }
    return false;
}

bool parseCompression(std::string_view text, ImageBlock& block) {
    const Fields fields = splitFields(text);
    if (fields.count < 2) return false;
    std::string_view name = fields.text[0];
    bool shuffled = false;
    if (name.size() > kShuffleSuffix.size() && name.ends_with(kShuffleSuffix)) {
        shuffled = true;
        name.remove_suffix(kShuffleSuffix.size());
    }
    if (!parseCodecName(name, block)) return false;
    const auto uncompressed = parseUnsigned64(fields.text[1]);
    if (!uncompressed) return false;
    block.byteShuffled = shuffled;
    block.uncompressedSize = *uncompressed;
    block.shuffleItemSize = 1;
    if (fields.count >= 3 && !fields.text[2].empty()) {
        const auto itemSize = parseUnsigned32(fields.text[2]);
        if (!itemSize || *itemSize < 1 || *itemSize > kMaxShuffleItemSize) return false;
        block.shuffleItemSize = *itemSize;
    }
    if (block.byteShuffled && block.shuffleItemSize < 2) block.byteShuffled = false;
    return true;
}

ReadStatus decodeBlock(const std::uint8_t* source, std::uint64_t sourceLength,
                       const ImageBlock& block, std::vector<std::uint8_t>& output,
                       std::uint64_t maxSize, const DecodeCheckpoint& checkpoint) {
    return decodeInto(source, sourceLength, block, output, maxSize, checkpoint);
}

ReadStatus decodeBlock(const std::uint8_t* source, std::uint64_t sourceLength,
                       const ImageBlock& block, LargeBytes& output, std::uint64_t maxSize,
                       const DecodeCheckpoint& checkpoint) {
    return decodeInto(source, sourceLength, block, output, maxSize, checkpoint);
}

bool unshuffle(std::span<std::uint8_t> buffer, std::uint32_t itemSize) {
    if (buffer.empty() || itemSize < 2) return true;
    const std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[buffer.size()]);
    if (!copy) return false;
    std::memcpy(copy.get(), buffer.data(), buffer.size());
    const std::size_t items = buffer.size() / itemSize;
    std::uint8_t* out = buffer.data();
    for (std::size_t j = 0; j < itemSize; ++j) {
        const std::uint8_t* plane = copy.get() + j * items;
        for (std::size_t i = 0; i < items; ++i) out[i * itemSize + j] = plane[i];
    }
    const std::size_t whole = items * itemSize;
    std::memcpy(out + whole, copy.get() + whole, buffer.size() - whole);
    return true;
}

UnshufflingReader::UnshufflingReader(const std::uint8_t* shuffled, std::uint64_t length,
                                     std::uint32_t itemSize)
    : data_(shuffled),
      length_(length),
      itemSize_(std::max<std::uint32_t>(itemSize, 1)),
      items_(length / itemSize_) {}

std::uint8_t UnshufflingReader::byteAt(std::uint64_t position) const {
    if (position >= items_ * itemSize_) return data_[position];
    return data_[(position % itemSize_) * items_ + position / itemSize_];
}

bool UnshufflingReader::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    if (destination == nullptr) return false;
    if (count == 0) return true;
    if (!rangeWithin(offset, count, length_)) return false;
    auto* out = static_cast<std::uint8_t*>(destination);
    const std::uint64_t end = offset + count;
    std::uint64_t position = offset;
    while (position < end && position % itemSize_ != 0) *out++ = byteAt(position++);
    // Whole items, one byte plane at a time: each plane's bytes lie together.
    const std::uint64_t bodyEnd = std::min(end, items_ * itemSize_);
    const std::uint64_t wholeItems = position < bodyEnd ? (bodyEnd - position) / itemSize_ : 0;
    const std::uint64_t firstItem = position / itemSize_;
    for (std::uint64_t j = 0; j < itemSize_; ++j) {
        const std::uint8_t* plane = data_ + j * items_ + firstItem;
        for (std::uint64_t i = 0; i < wholeItems; ++i) out[i * itemSize_ + j] = plane[i];
    }
    out += wholeItems * itemSize_;
    position += wholeItems * itemSize_;
    while (position < end) *out++ = byteAt(position++);
    return true;
}

}  // namespace cv
