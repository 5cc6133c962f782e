#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/compressed_tiles.h"

namespace cv {

// The longest image side any reader accepts and the renderer lays out, in pixels.
constexpr std::uint64_t kMaxImageSide = 100000;

enum class FileKind : std::uint32_t {
    Unknown = 0,
    Xisf = 1,
    Fits = 2,
    Project = 3,
};

enum class SampleFormat : std::uint32_t {
    None = 0,
    UInt8 = 1,
    UInt16 = 2,
    UInt32 = 3,
    UInt64 = 4,
    Int8 = 5,
    Int16 = 6,
    Int32 = 7,
    Int64 = 8,
    Float32 = 9,
    Float64 = 10,
};

enum class ColorSpace : std::uint32_t {
    Gray = 0,
    RGB = 1,
    CIELab = 2,
};

enum class Codec : std::uint32_t {
    None = 0,
    Zlib = 1,
    Lz4 = 2,
    Lz4hc = 3,
    Zstd = 4,
};

enum class DataLocation : std::uint32_t {
    None = 0,
    Attachment = 1,  // `size` bytes at byte `position` of the byte source
    Inline = 2,      // held in `inlineData`
    Embedded = 3,    // held in `inlineData`
};

// Display names; a value outside each table gives the first row's name
// ("unknown", "Unknown", "Gray", "none", "none").
const char* fileKindName(FileKind kind);
const char* sampleFormatName(SampleFormat format);
const char* colorSpaceName(ColorSpace space);
const char* codecName(Codec codec);
const char* dataLocationName(DataLocation location);

// Exact, case-sensitive name to value; SampleFormat::None when absent.
SampleFormat sampleFormatFromName(std::string_view name);
// 0 for a value outside the table.
std::uint32_t bytesPerSample(SampleFormat format);

// A raw sample r becomes the working value r * scale + offset.
struct Normalization {
    float scale = 1.0f;
    float offset = 0.0f;
};

// Maps the full range of every integer type onto 0..1; floats pass through.
Normalization defaultNormalization(SampleFormat format);

// The stored values an integer format can hold; nothing for floats.
struct IntegerRange {
    double min;
    double max;
};
std::optional<IntegerRange> integerRange(SampleFormat format);

// One image's pixel data: geometry, encoding and where the samples lie.
struct ImageBlock {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint32_t channels = 0;  // planes, channel 0 first
    SampleFormat sampleFormat = SampleFormat::None;
    ColorSpace colorSpace = ColorSpace::Gray;
    bool bigEndian = false;
    DataLocation location = DataLocation::None;
    std::uint64_t position = 0;  // byte offset of an attachment
    std::uint64_t size = 0;      // stored (compressed) byte length
    std::vector<std::uint8_t> inlineData;
    Codec codec = Codec::None;
    bool byteShuffled = false;
    std::uint64_t uncompressedSize = 0;
    std::uint32_t shuffleItemSize = 1;
    float scale = 1.0f;
    float offset = 0.0f;
    // What a stored integer stands for: raw * physicalScale + physicalOffset
    // (FITS's BSCALE and BZERO; XISF stores the values themselves).
    double physicalScale = 1.0;
    double physicalOffset = 0.0;
    // 8-byte samples stored with their sign bit flipped (FITS's unsigned
    // 64-bit convention): read with the bit put back, as UInt64.
    bool signBitFlipped = false;
    // Set: the samples are decoded from these tiles, stored from `position`
    // on, into native byte order.
    std::shared_ptr<const CompressedTiles> tiles;
};

// Width, height and channels non-zero and a known sample format.
bool isUsable(const ImageBlock& block);

// width * height * channels * bytes per sample, or nothing on overflow or an
// unknown format.
std::optional<std::uint64_t> blockByteSize(const ImageBlock& block);

// Texts are stored as the file wrote them (FITS string values keep quotes).
struct KeywordRecord {
    std::string name;
    std::string value;
    std::string comment;
};

struct PropertyRecord {
    std::string id;
    std::string type;
    std::string value;
};

// The decoded header of an image file. A default-constructed record is the
// reset state every reader starts from.
struct ImageData {
    FileKind kind = FileKind::Unknown;
    ImageBlock image;
    bool hasThumbnail = false;
    ImageBlock thumbnail;
    std::string cfaPattern;  // e.g. "RGGB"; empty when none
    std::uint32_t cfaWidth = 0;
    std::uint32_t cfaHeight = 0;
    std::vector<KeywordRecord> keywords;
    std::vector<PropertyRecord> properties;
    std::uint32_t imageCount = 0;  // saturates at 2^32 - 1
    std::uint64_t headerLength = 0;

    void reset() { *this = ImageData{}; }
};

// The value of the first keyword named `name` (ASCII case ignored), trimmed
// and with enclosing apostrophes removed; `fallback` when there is none. An
// empty name finds nothing.
std::string keywordValue(const ImageData& data, std::string_view name,
                         std::string_view fallback = {});

// The first property whose id equals `id` exactly, or null. An empty id finds
// nothing.
const PropertyRecord* findProperty(const ImageData& data, std::string_view id);

// A FITS-style string value: trimmed, and when it is quoted, the quotes
// removed and the rest trimmed again. Doubled quotes inside stay as written.
std::string_view unquoteValue(std::string_view value);

}  // namespace cv
