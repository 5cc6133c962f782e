#include "core/image_data.h"

#include <array>
#include <bit>

#include "core/text_utils.h"

namespace cv {

namespace {

struct SampleFormatRow {
    const char* name;
    SampleFormat format;
    std::uint32_t bytes;
    std::uint32_t scaleBits;  // single-precision pattern, so the constants are bit-exact
    std::uint32_t offsetBits;
};

constexpr std::uint32_t kOne = 0x3F800000;             // 1
constexpr std::uint32_t kZero = 0x00000000;            // 0
constexpr std::uint32_t kOneOver255 = 0x3B808081;      // 1/255
constexpr std::uint32_t kOneOver65535 = 0x37800080;    // 1/65535
constexpr std::uint32_t kTwoToMinus32 = 0x2F800000;    // 2^-32
constexpr std::uint32_t kTwoToMinus64 = 0x1F800000;    // 2^-64
constexpr std::uint32_t k128Over255 = 0x3F008081;      // 128/255
constexpr std::uint32_t k32768Over65535 = 0x3F000080;  // 32768/65535
constexpr std::uint32_t kOneHalf = 0x3F000000;         // 0.5

constexpr std::array<SampleFormatRow, 10> kSampleFormats = {{
    {"UInt8", SampleFormat::UInt8, 1, kOneOver255, kZero},
    {"UInt16", SampleFormat::UInt16, 2, kOneOver65535, kZero},
    {"UInt32", SampleFormat::UInt32, 4, kTwoToMinus32, kZero},
    {"UInt64", SampleFormat::UInt64, 8, kTwoToMinus64, kZero},
    {"Int8", SampleFormat::Int8, 1, kOneOver255, k128Over255},
    {"Int16", SampleFormat::Int16, 2, kOneOver65535, k32768Over65535},
    {"Int32", SampleFormat::Int32, 4, kTwoToMinus32, kOneHalf},
    {"Int64", SampleFormat::Int64, 8, kTwoToMinus64, kOneHalf},
    {"Float32", SampleFormat::Float32, 4, kOne, kZero},
    {"Float64", SampleFormat::Float64, 8, kOne, kZero},
}};

const SampleFormatRow* findSampleFormat(SampleFormat format) {
    for (const auto& row : kSampleFormats) {
        if (row.format == format) return &row;
    }
    return nullptr;
}

template <std::size_t N>
const char* nameAt(const std::array<const char*, N>& names, std::uint32_t index) {
    return index < N ? names[index] : names[0];
}

}  // namespace

const char* fileKindName(FileKind kind) {
    static constexpr std::array<const char*, 4> kNames = {"unknown", "XISF", "FITS",
                                                          "Vellumar project"};
    return nameAt(kNames, static_cast<std::uint32_t>(kind));
}

const char* sampleFormatName(SampleFormat format) {
    const auto* row = findSampleFormat(format);
    return row != nullptr ? row->name : "Unknown";
}

const char* colorSpaceName(ColorSpace space) {
    static constexpr std::array<const char*, 3> kNames = {"Gray", "RGB", "CIELab"};
    return nameAt(kNames, static_cast<std::uint32_t>(space));
}

const char* codecName(Codec codec) {
    static constexpr std::array<const char*, 5> kNames = {"none", "zlib", "lz4", "lz4hc", "zstd"};
    return nameAt(kNames, static_cast<std::uint32_t>(codec));
}

const char* dataLocationName(DataLocation location) {
    static constexpr std::array<const char*, 4> kNames = {"none", "attachment", "inline",
                                                          "embedded"};
    return nameAt(kNames, static_cast<std::uint32_t>(location));
}

SampleFormat sampleFormatFromName(std::string_view name) {
    for (const auto& row : kSampleFormats) {
        if (name == row.name) return row.format;
    }
    return SampleFormat::None;
}

std::uint32_t bytesPerSample(SampleFormat format) {
    const auto* row = findSampleFormat(format);
    return row != nullptr ? row->bytes : 0;
}

Normalization defaultNormalization(SampleFormat format) {
    const auto* row = findSampleFormat(format);
    if (row == nullptr) return {};
    return {std::bit_cast<float>(row->scaleBits), std::bit_cast<float>(row->offsetBits)};
}

std::optional<IntegerRange> integerRange(SampleFormat format) {
    switch (format) {
        case SampleFormat::UInt8:
            return IntegerRange{0.0, 255.0};
        case SampleFormat::Int8:
            return IntegerRange{-128.0, 127.0};
        case SampleFormat::UInt16:
            return IntegerRange{0.0, 65535.0};
        case SampleFormat::Int16:
            return IntegerRange{-32768.0, 32767.0};
        case SampleFormat::UInt32:
            return IntegerRange{0.0, 4294967295.0};
        case SampleFormat::Int32:
            return IntegerRange{-2147483648.0, 2147483647.0};
        case SampleFormat::UInt64:
            return IntegerRange{0.0, 18446744073709551615.0};
        case SampleFormat::Int64:
            return IntegerRange{-9223372036854775808.0, 9223372036854775807.0};
        default:
            return std::nullopt;
    }
}

bool isUsable(const ImageBlock& block) {
    return block.width != 0 && block.height != 0 && block.channels != 0 &&
           bytesPerSample(block.sampleFormat) != 0;
}

std::optional<std::uint64_t> blockByteSize(const ImageBlock& block) {
    const std::uint32_t bytes = bytesPerSample(block.sampleFormat);
    if (bytes == 0) return std::nullopt;
    auto product = safeMultiply(block.width, block.height);
    if (product) product = safeMultiply(*product, block.channels);
    if (product) product = safeMultiply(*product, bytes);
    return product;
}

std::string_view unquoteValue(std::string_view value) {
    value = trim(value);
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
        value = trim(value.substr(1, value.size() - 2));
    }
    return value;
}

std::string keywordValue(const ImageData& data, std::string_view name, std::string_view fallback) {
    if (name.empty()) return std::string(fallback);
    for (const auto& keyword : data.keywords) {
        if (equalsIgnoreCase(keyword.name, name)) return std::string(unquoteValue(keyword.value));
    }
    return std::string(fallback);
}

const PropertyRecord* findProperty(const ImageData& data, std::string_view id) {
    if (id.empty()) return nullptr;
    for (const auto& property : data.properties) {
        if (property.id == id) return &property;
    }
    return nullptr;
}

}  // namespace cv
