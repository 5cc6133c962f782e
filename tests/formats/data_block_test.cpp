#include "formats/data_block.h"

#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <numeric>

// Fault injection for the un-shuffle copy, the one allocation made with
// nothrow new[] in the decoder: when armed, the next such call fails.
namespace {
std::atomic<int> gFailNothrowArrayAllocations{0};
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (gFailNothrowArrayAllocations.load() > 0) {
        gFailNothrowArrayAllocations.fetch_sub(1);
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

using Bytes = std::vector<std::uint8_t>;

struct LocationCase {
    const char* text;
    bool accepted;
    cv::DataLocation location;
};

TEST(ParseLocation, AcceptsTheThreeKindsWithTheirFields) {
    const LocationCase cases[] = {
        {"attachment:4096:360000", true, cv::DataLocation::Attachment},
        {"attachment: 4096 : 360000 ", true, cv::DataLocation::Attachment},
        {"attachment:4096", false, cv::DataLocation::None},
        {"attachment:4096:1:2", false, cv::DataLocation::None},
        {"attachment:x:1", false, cv::DataLocation::None},
        {"inline", true, cv::DataLocation::Inline},
        {"inline:base64", true, cv::DataLocation::Inline},
        {"inline:hex", false, cv::DataLocation::None},
        {"embedded", true, cv::DataLocation::Embedded},
        {"embedded:anything:at:all", true, cv::DataLocation::Embedded},
        {"Attachment:1:2", false, cv::DataLocation::None},
        {"", false, cv::DataLocation::None},
    };
    for (const auto& c : cases) {
        cv::ImageBlock block;
        EXPECT_EQ(cv::parseLocation(c.text, block), c.accepted) << c.text;
        EXPECT_EQ(block.location, c.location) << c.text;
    }
    cv::ImageBlock block;
    ASSERT_TRUE(cv::parseLocation("attachment:4096:360000", block));
    EXPECT_EQ(block.position, 4096u);
    EXPECT_EQ(block.size, 360000u);
}

struct CompressionCase {
    const char* text;
    bool accepted;
    cv::Codec codec;
    bool shuffled;
    std::uint32_t itemSize;
};

TEST(ParseCompression, ReadsCodecSizeAndShuffling) {
    const CompressionCase cases[] = {
        {"zlib+sh:1000:2", true, cv::Codec::Zlib, true, 2},
        {"zlib+sh:1000", true, cv::Codec::Zlib, false, 1},
        {"zlib:1000:", true, cv::Codec::Zlib, false, 1},
        {"lz4hc:240000", true, cv::Codec::Lz4hc, false, 1},
        {"zstd+sh:240000:4", true, cv::Codec::Zstd, true, 4},
        {"lz4:10:64", true, cv::Codec::Lz4, false, 64},
        {"lz4:10:0", false, cv::Codec::Lz4, false, 1},
        {"lz4:10:65", false, cv::Codec::Lz4, false, 1},
        {"+sh:1000", false, cv::Codec::None, false, 1},
        {"zlib", false, cv::Codec::None, false, 1},
        {"bzip2:1000", false, cv::Codec::None, false, 1},
        {"ZLIB:1000", false, cv::Codec::None, false, 1},
        {"zlib:-5", false, cv::Codec::Zlib, false, 1},
    };
    for (const auto& c : cases) {
        cv::ImageBlock block;
        ASSERT_EQ(cv::parseCompression(c.text, block), c.accepted) << c.text;
        if (!c.accepted) continue;
        EXPECT_EQ(block.codec, c.codec) << c.text;
        EXPECT_EQ(block.byteShuffled, c.shuffled) << c.text;
        EXPECT_EQ(block.shuffleItemSize, c.itemSize) << c.text;
    }
    cv::ImageBlock block;
    ASSERT_TRUE(cv::parseCompression("zstd:240000", block));
    EXPECT_EQ(block.uncompressedSize, 240000u);
}

// Samples with structure, like an image: smooth with a little noise.
Bytes samplesOf(std::size_t size) {
    Bytes bytes(size);
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>((i / 64) + ((state >> 16) & 3));
    }
    return bytes;
}

Bytes shuffle(const Bytes& bytes, std::size_t itemSize) {
    Bytes out(bytes);
    const std::size_t items = bytes.size() / itemSize;
    for (std::size_t j = 0; j < itemSize; ++j) {
        for (std::size_t i = 0; i < items; ++i) out[j * items + i] = bytes[i * itemSize + j];
    }
    return out;
}

Bytes compressWith(cv::Codec codec, const Bytes& input) {
    Bytes out;
    switch (codec) {
        case cv::Codec::Zlib: {
            uLongf length = compressBound(input.size());
            out.resize(length);
            EXPECT_EQ(compress(out.data(), &length, input.data(), input.size()), Z_OK);
            out.resize(length);
            break;
        }
        case cv::Codec::Lz4:
        case cv::Codec::Lz4hc: {
            out.resize(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(input.size()))));
            const auto* source = reinterpret_cast<const char*>(input.data());
            auto* target = reinterpret_cast<char*>(out.data());
            const int length =
                codec == cv::Codec::Lz4
                    ? LZ4_compress_default(source, target, static_cast<int>(input.size()),
                                           static_cast<int>(out.size()))
                    : LZ4_compress_HC(source, target, static_cast<int>(input.size()),
                                      static_cast<int>(out.size()), 9);
            out.resize(static_cast<std::size_t>(length));
            break;
        }
        case cv::Codec::Zstd: {
            out.resize(ZSTD_compressBound(input.size()));
            out.resize(ZSTD_compress(out.data(), out.size(), input.data(), input.size(), 3));
            break;
        }
        default:
            break;
    }
    return out;
}

TEST(DecodeBlock, RoundTripsEveryCodecShuffledAndNot) {
    const Bytes original = samplesOf(30001);
    for (cv::Codec codec : {cv::Codec::Zlib, cv::Codec::Lz4, cv::Codec::Lz4hc, cv::Codec::Zstd}) {
        for (std::uint32_t itemSize : {1u, 2u, 4u, 8u}) {
            cv::ImageBlock block;
            block.codec = codec;
            block.uncompressedSize = original.size();
            block.byteShuffled = itemSize > 1;
            block.shuffleItemSize = itemSize;
            const Bytes stored =
                compressWith(codec, itemSize > 1 ? shuffle(original, itemSize) : original);
            Bytes decoded;
            ASSERT_EQ(cv::decodeBlock(stored.data(), stored.size(), block, decoded, 1 << 20),
                      cv::ReadStatus::Ok)
                << cv::codecName(codec) << " item size " << itemSize;
            EXPECT_EQ(decoded, original) << cv::codecName(codec) << " item size " << itemSize;
        }
    }
}

TEST(DecodeBlock, DecodesZstdFrameByFrame) {
    const Bytes original = samplesOf(5000);
    const Bytes first(original.begin(), original.begin() + 2000);
    const Bytes second(original.begin() + 2000, original.end());
    Bytes stored = compressWith(cv::Codec::Zstd, first);
    const Bytes tail = compressWith(cv::Codec::Zstd, second);
    stored.insert(stored.end(), tail.begin(), tail.end());
    cv::ImageBlock block;
    block.codec = cv::Codec::Zstd;
    block.uncompressedSize = original.size();
    Bytes decoded;
    ASSERT_EQ(cv::decodeBlock(stored.data(), stored.size(), block, decoded, 1 << 20),
              cv::ReadStatus::Ok);
    EXPECT_EQ(decoded, original);
    block.uncompressedSize = 2000;  // output full after one frame: the rest is ignored
    EXPECT_EQ(cv::decodeBlock(stored.data(), stored.size(), block, decoded, 1 << 20),
              cv::ReadStatus::Ok);
}

// A skippable zstd frame with no payload: eight bytes that decode to nothing.
Bytes skippableZstdFrame() {
    return {0x50, 0x2A, 0x4D, 0x18, 0, 0, 0, 0};
}

TEST(DecodeBlock, GivesUpOnZstdFramesThatDecodeToNothing) {
    const Bytes original = samplesOf(1000);
    const Bytes data = compressWith(cv::Codec::Zstd, original);
    cv::ImageBlock block;
    block.codec = cv::Codec::Zstd;
    block.uncompressedSize = original.size();
    for (const std::size_t skippable : {3u, 100000u}) {
        Bytes stored;
        for (std::size_t i = 0; i < skippable; ++i) {
            const Bytes frame =
                i % 2 == 0 ? skippableZstdFrame() : compressWith(cv::Codec::Zstd, {});
            stored.insert(stored.end(), frame.begin(), frame.end());
        }
        stored.insert(stored.end(), data.begin(), data.end());
        std::size_t framesVisited = 0;
        Bytes decoded;
        const cv::ReadStatus status =
            cv::decodeBlock(stored.data(), stored.size(), block, decoded, 1 << 20, [&] {
                ++framesVisited;
                return cv::ReadStatus::Ok;
            });
        if (skippable == 3) {
            EXPECT_EQ(status, cv::ReadStatus::Ok) << "a few empty frames are allowed";
        } else {
            EXPECT_EQ(status, cv::ReadStatus::Malformed);
            EXPECT_LE(framesVisited, 100u) << "the empty frames are not walked to their end";
        }
    }
}

// A zlib stream of empty stored blocks, then one final stored block with `data`.
Bytes zlibOfEmptyBlocks(std::size_t emptyBlocks, const Bytes& data) {
    Bytes out = {0x78, 0x01};
    for (std::size_t i = 0; i < emptyBlocks; ++i)
        out.insert(out.end(), {0x00, 0x00, 0x00, 0xFF, 0xFF});
    const auto length = static_cast<std::uint16_t>(data.size());
    out.insert(out.end(),
               {0x01, static_cast<std::uint8_t>(length & 0xFF),
                static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(~length & 0xFF),
                static_cast<std::uint8_t>((~length >> 8) & 0xFF)});
    out.insert(out.end(), data.begin(), data.end());
    const uLong check =
        adler32(adler32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size()));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(check >> shift));
    return out;
}

TEST(DecodeBlock, StopsWhenTheCheckpointSaysSo) {
    const Bytes zeros(9 * 1024 * 1024, 0);  // more than one zlib piece
    const Bytes half(zeros.size() / 2, 0);
    const Bytes frame = compressWith(cv::Codec::Zstd, half);
    Bytes twoFrames = frame;
    twoFrames.insert(twoFrames.end(), frame.begin(), frame.end());
    const Bytes few = samplesOf(100);
    struct Case {
        cv::Codec codec;
        Bytes stored;
        std::size_t decoded;
    };
    const Case cases[] = {
        {cv::Codec::Zlib, compressWith(cv::Codec::Zlib, zeros), zeros.size()},
        {cv::Codec::Zstd, twoFrames, zeros.size()},
        {cv::Codec::Zlib, zlibOfEmptyBlocks(400000, few),
         few.size()},  // 2 MB of input that yields nothing
    };
    for (const auto& [codec, stored, decodedSize] : cases) {
        cv::ImageBlock block;
        block.codec = codec;
        block.uncompressedSize = decodedSize;
        Bytes decoded;
        EXPECT_EQ(cv::decodeBlock(stored.data(), stored.size(), block, decoded, zeros.size(),
                                  [] { return cv::ReadStatus::Cancelled; }),
                  cv::ReadStatus::Cancelled)
            << cv::codecName(codec);
        EXPECT_EQ(cv::decodeBlock(stored.data(), stored.size(), block, decoded, zeros.size()),
                  cv::ReadStatus::Ok)
            << cv::codecName(codec);
    }
}

TEST(DecodeBlock, RefusesWrongSizesLimitsAndCorruptData) {
    const Bytes original = samplesOf(1000);
    for (cv::Codec codec : {cv::Codec::Zlib, cv::Codec::Lz4, cv::Codec::Zstd}) {
        const Bytes stored = compressWith(codec, original);
        cv::ImageBlock block;
        block.codec = codec;
        Bytes decoded;
        block.uncompressedSize = original.size() + 1;
        EXPECT_EQ(cv::decodeBlock(stored.data(), stored.size(), block, decoded, 1 << 20),
                  cv::ReadStatus::Malformed)
            << cv::codecName(codec) << ": one byte short of the declared size";
        block.uncompressedSize = original.size();
        EXPECT_EQ(cv::decodeBlock(stored.data(), stored.size(), block, decoded, 999),
                  cv::ReadStatus::TooLarge);
        Bytes corrupt = stored;
        for (std::size_t i = 0; i < corrupt.size(); i += 3) corrupt[i] ^= 0x5A;
        EXPECT_NE(cv::decodeBlock(corrupt.data(), corrupt.size(), block, decoded, 1 << 20),
                  cv::ReadStatus::Ok)
            << cv::codecName(codec);
    }
    cv::ImageBlock block;
    block.codec = cv::Codec::Zlib;
    Bytes decoded;
    const std::uint8_t byte = 0;
    EXPECT_EQ(cv::decodeBlock(&byte, 1, block, decoded, 100), cv::ReadStatus::Malformed)
        << "no declared size";
    block.uncompressedSize = 10;
    EXPECT_EQ(cv::decodeBlock(nullptr, 1, block, decoded, 100), cv::ReadStatus::Malformed);
    EXPECT_EQ(cv::decodeBlock(&byte, 0, block, decoded, 100), cv::ReadStatus::Malformed);
    block.codec = cv::Codec::None;
    EXPECT_EQ(cv::decodeBlock(&byte, 1, block, decoded, 100), cv::ReadStatus::Unsupported);
}

TEST(DecodeBlock, ReportsAnUnshuffleThatCannotAllocateInsteadOfDrawingScrambledBytes) {
    const Bytes original = samplesOf(4096);
    cv::ImageBlock block;
    block.codec = cv::Codec::Zlib;
    block.uncompressedSize = original.size();
    block.byteShuffled = true;
    block.shuffleItemSize = 2;
    const Bytes stored = compressWith(cv::Codec::Zlib, shuffle(original, 2));
    Bytes decoded;
    gFailNothrowArrayAllocations = 1;
    EXPECT_EQ(cv::decodeBlock(stored.data(), stored.size(), block, decoded, 1 << 20),
              cv::ReadStatus::TooLarge);
    EXPECT_EQ(gFailNothrowArrayAllocations.load(), 0)
        << "the un-shuffle copy was the failing allocation";
}

TEST(UnshufflingReader, ReadsEveryRangeAsUnshuffleWouldLeaveIt) {
    for (const std::uint32_t itemSize : {1u, 2u, 3u, 8u}) {
        Bytes shuffled(45);
        std::iota(shuffled.begin(), shuffled.end(), 0);
        Bytes expected = shuffled;
        ASSERT_TRUE(cv::unshuffle(expected, itemSize));
        cv::UnshufflingReader reader(shuffled.data(), shuffled.size(), itemSize);
        for (std::size_t offset = 0; offset <= shuffled.size(); ++offset) {
            for (std::size_t count = 0; offset + count <= shuffled.size(); ++count) {
                Bytes out(count + 1, 0xEE);
                ASSERT_TRUE(reader.read(offset, out.data(), count));
                ASSERT_TRUE(std::equal(out.begin(),
                                       out.begin() + static_cast<std::ptrdiff_t>(count),
                                       expected.begin() + static_cast<std::ptrdiff_t>(offset)))
                    << "item size " << itemSize << ", bytes " << offset << " + " << count;
                ASSERT_EQ(out[count], 0xEE) << "nothing written past the count";
            }
        }
        Bytes out(2);
        EXPECT_FALSE(reader.read(44, out.data(), 2));
    }
}

TEST(Unshuffle, RebuildsWholeItemsAndLeavesTheTailInPlace) {
    Bytes bytes(10);
    std::iota(bytes.begin(), bytes.end(), 0);
    // Two items of four: planes {0,1} {2,3} {4,5} {6,7}, then the tail 8, 9.
    ASSERT_TRUE(cv::unshuffle(bytes, 4));
    EXPECT_EQ(bytes, (Bytes{0, 2, 4, 6, 1, 3, 5, 7, 8, 9}));
    Bytes single = {1, 2, 3};
    ASSERT_TRUE(cv::unshuffle(single, 1));
    EXPECT_EQ(single, (Bytes{1, 2, 3}));
}

}  // namespace
