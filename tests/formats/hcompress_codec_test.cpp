#include "formats/hcompress_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Pixels = std::vector<std::int32_t>;

constexpr std::uint32_t kWidth = 9;
constexpr std::uint32_t kHeight = 7;
constexpr std::size_t kPixels = kWidth * kHeight;

// `fpack -h -w` (cfitsio 4.2.0) of a 9 x 7 int16 image (a negative gradient with noise and one
// bright pixel): the tile's COMPRESSED_DATA as astropy reads it with disable_image_compression.
const Bytes kTile = {
    0xdd, 0x99, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0xff,
    0xff, 0xff, 0xff, 0xff, 0xff, 0xfd, 0x80, 0x08, 0x06, 0x07, 0xf6, 0xd7, 0xbb, 0x7b, 0xf6,
    0x98, 0x33, 0x96, 0xc4, 0x00, 0x6d, 0x11, 0x47, 0xaa, 0x67, 0xfe, 0xff, 0xbd, 0x1f, 0x44,
    0x0c, 0x9b, 0x43, 0x36, 0x48, 0x33, 0x00, 0xbf, 0xef, 0x68, 0xfb, 0x47, 0xdd, 0x97, 0xef,
    0x2e, 0xf2, 0x41, 0xaa, 0x10, 0x23, 0xfe, 0xf4, 0x7f, 0xef, 0xfb, 0xfe, 0xf4, 0xbc, 0x30,
    0xf8, 0x40, 0x00, 0x10, 0xe1, 0x58, 0x70, 0xfd, 0x6f, 0xfa,
};
// The image fpack was given.
const Pixels kLossless = {-29, -26, -23, -21, -17, -14, -11, -10, -6,  -32, -30, -26, -23,
                          -19, -17, -15, -10, -7,  -35, -31, -28, -24, -23, -19, -15, -13,
                          -11, -35, -32, -29, -26, 40,  -20, -17, -15, -11, -38, -36, -32,
                          -29, -27, -22, -20, -16, -15, -40, -38, -35, -31, -28, -25, -22,
                          -18, -16, -42, -38, -35, -33, -31, -28, -25, -21, -18};
// funpack's output for the tile with its scale set to 5, without and with SMOOTH.
const Pixels kScaled = {
    -148, -131, -118, -106, -92,  -75,  -63,  -58,  -34,  -165, -153, -135, -118, -104, -92,  -83,
    -58,  -39,  -178, -156, -145, -123, -123, -103, -81,  -71,  -57,  -180, -163, -152, -135, 192,
    -108, -91,  -81,  -57,  -194, -184, -165, -148, -143, -118, -106, -86,  -79,  -204, -194, -182,
    -160, -148, -133, -116, -96,  -84,  -214, -194, -179, -169, -163, -148, -131, -111, -92};
const Pixels kScaledSmoothed = {
    -148, -131, -118, -106, -92,  -76,  -63,  -59,  -34,  -165, -153, -135, -118, -104, -93,  -83,
    -59,  -39,  -177, -155, -145, -122, -123, -103, -82,  -72,  -56,  -180, -163, -153, -135, 192,
    -108, -90,  -81,  -57,  -194, -184, -166, -149, -142, -119, -105, -86,  -79,  -203, -193, -181,
    -161, -149, -134, -115, -96,  -85,  -214, -194, -179, -168, -163, -149, -130, -111, -92};
constexpr std::size_t kScale = 13;  // low byte of the big-endian scale
constexpr std::size_t kSum = 14;    // high byte of the big-endian sum
constexpr std::size_t kPlanes = 22;
constexpr std::size_t kFirstPlane = 25;

using Patches = std::vector<std::pair<std::size_t, std::uint8_t>>;

Bytes patched(const Patches& changes, Bytes bytes = kTile) {
    for (const auto& [at, value] : changes) bytes[at] = value;
    return bytes;
}

// A stream made by hand: no scale, a sum of 0, the given bit-plane counts, then `coded`.
Bytes handMade(std::uint8_t width, std::uint8_t height, std::array<std::uint8_t, 3> planes,
               const Bytes& coded) {
    Bytes bytes(kFirstPlane + coded.size(), 0);
    const std::array<std::uint8_t, 10> known = {0xdd, 0x99, 0, 0, 0, height, 0, 0, 0, width};
    std::copy(known.begin(), known.end(), bytes.begin());
    std::copy(planes.begin(), planes.end(), bytes.begin() + kPlanes);
    std::copy(coded.begin(), coded.end(), bytes.begin() + kFirstPlane);
    return bytes;
}

struct DecodeCase {
    const char* name;
    Patches changes;
    bool smooth;
    Pixels expected;
};

TEST(HcompressDecode, KnownTileDecodesAsFunpackDoes) {
    const DecodeCase cases[] = {
        {"lossless", {}, false, kLossless},
        {"scale 5", {{kScale, 5}}, false, kScaled},
        {"scale 5, smoothed", {{kScale, 5}}, true, kScaledSmoothed},
    };
    for (const auto& c : cases) {
        Pixels output(kPixels);
        EXPECT_EQ(cv::decodeHcompress(patched(c.changes), kWidth, kHeight, c.smooth, output),
                  cv::ReadStatus::Ok)
            << c.name;
        EXPECT_EQ(output, c.expected) << c.name;
    }
}

TEST(HcompressDecode, EveryTruncationIsMalformed) {
    Pixels output(kPixels);
    for (std::size_t length = 0; length < kTile.size(); ++length) {
        const Bytes prefix(kTile.begin(), kTile.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(cv::decodeHcompress(prefix, kWidth, kHeight, false, output),
                  cv::ReadStatus::Malformed)
            << "first " << length << " bytes";
    }
}

struct StatusCase {
    const char* name;
    Bytes input;
    std::uint32_t width;
    std::uint32_t height;
    std::size_t outputSize;
    cv::ReadStatus expected;
};

TEST(HcompressDecode, AcceptsOnlyStreamsTheEncoderCanWrite) {
    Bytes garbage(kTile.begin(), kTile.begin() + kFirstPlane);
    garbage.resize(4096, 0xFF);
    Bytes bitmaps(4 * 52, 0x08);  // every plane of the four pixels set, then the end and signs
    bitmaps.resize(bitmaps.size() + 2, 0x00);
    using enum cv::ReadStatus;
    const StatusCase cases[] = {
        {"bad magic", patched({{0, 0xDE}}), kWidth, kHeight, kPixels, Malformed},
        {"width and height swapped", kTile, kHeight, kWidth, kPixels, Malformed},
        {"output of another size", kTile, kWidth, kHeight, kPixels - 1, Malformed},
        {"255 bit planes", patched({{kPlanes, 255}}), kWidth, kHeight, kPixels, Malformed},
        {"52 planes at scale 2", patched({{kPlanes, 52}, {kScale, 2}}), kWidth, kHeight, kPixels,
         Malformed},
        {"sum past the bound", patched({{kSum, 0x80}, {kScale, 5}}), kWidth, kHeight, kPixels,
         Malformed},
        {"pixels past int32", patched({{kSum + 2, 0}}), kWidth, kHeight, kPixels, Malformed},
        {"unknown plane kind", patched({{kFirstPlane, 0x5E}}), kWidth, kHeight, kPixels, Malformed},
        {"digits past the bound once scaled",
         patched({{11, 1}}, handMade(2, 2, {52, 52, 52}, bitmaps)), 2, 2, 4, Malformed},
        {"garbage planes", garbage, kWidth, kHeight, kPixels, Malformed},
        {"a marked cell's code", handMade(8, 8, {1, 0, 0}, {0xF6, 0xC0, 0x00}), 8, 8, 64, Ok},
        {"zero under a mark", handMade(8, 8, {1, 0, 0}, {0xF7, 0xF0, 0x00}), 8, 8, 64, Malformed},
        {"mark without pixels", handMade(1, 2, {0, 1, 0}, {0xF7, 0xFF, 0x00}), 1, 2, 2, Malformed},
        {"empty tile", kTile, 0, kHeight, 0, Malformed},
        {"tile past the limit", kTile, 8192, 8192, 0, TooLarge},
    };
    for (const auto& c : cases) {
        Pixels output(c.outputSize);
        EXPECT_EQ(cv::decodeHcompress(c.input, c.width, c.height, false, output), c.expected)
            << c.name;
    }
}

// The most bit planes in every quadrant, each a quadtree marking everything: the work grows with
// planes x pixels, never with the length of the input.
TEST(HcompressDecode, HostilePlanesCostBoundedWork) {
    constexpr std::uint8_t kSide = 64;
    constexpr std::uint8_t kMaxPlanes = 52;
    Bytes input = handMade(kSide, kSide, {kMaxPlanes, kMaxPlanes, kMaxPlanes}, {});
    input.resize(1 << 20, 0xFF);
    Pixels output(kSide * kSide);
    cv::HcompressWork work;
    EXPECT_EQ(cv::decodeHcompress(input, kSide, kSide, true, output, work),
              cv::ReadStatus::Malformed);
    EXPECT_GT(work.cells, kMaxPlanes * kSide * kSide / 4) << "the planes were not all decoded";
    EXPECT_LE(work.cells, kMaxPlanes * kSide * kSide) << "more work than planes x pixels";
}

}  // namespace
