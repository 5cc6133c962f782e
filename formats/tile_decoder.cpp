#include "formats/tile_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "core/text_utils.h"
#include "formats/fits_bitpix.h"
#include "formats/hcompress_codec.h"
#include "formats/plio_codec.h"
#include "formats/rice_codec.h"
#include "formats/subtractive_dither.h"

namespace cv {

namespace {

constexpr std::int32_t kZeroValue = -2147483646;  // SUBTRACTIVE_DITHER_2's exact zero
constexpr std::uint64_t kMaxRowBytes = 4096;      // of a compressed image's table row

std::uint64_t loadBigEndian(const std::uint8_t* bytes, std::uint32_t count) {
    std::uint64_t value = 0;
    for (std::uint32_t i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

std::int64_t signExtended(std::uint64_t bits, std::uint32_t bytes) {
    const std::uint32_t unused = 64 - 8 * bytes;
    return static_cast<std::int64_t>(bits << unused) >> unused;
}

// One stored value as a double or as an exact integer, whichever it is.
struct Value {
    double real = 0.0;
    std::int64_t integer = 0;
    bool isReal = false;
};

Value loadValue(const std::uint8_t* bytes, SampleFormat format) {
    const std::uint32_t size = bytesPerSample(format);
    const std::uint64_t bits = loadBigEndian(bytes, size);
    switch (format) {
        case SampleFormat::Float32:
            return {std::bit_cast<float>(static_cast<std::uint32_t>(bits)), 0, true};
        case SampleFormat::Float64:
            return {std::bit_cast<double>(bits), 0, true};
        case SampleFormat::UInt8:
            return {0.0, static_cast<std::int64_t>(bits), false};
        default:
            return {0.0, signExtended(bits, size), false};
    }
}

// Integers saturate at the type's range: a lossy H-compress tile may
// overshoot it, and its decoded image holds the nearest value instead.
template <typename T>
void storeAs(std::uint8_t* destination, const Value& value) {
    T out;
    if constexpr (std::is_floating_point_v<T>) {
        out = value.isReal ? static_cast<T>(value.real) : static_cast<T>(value.integer);
    } else {
        constexpr auto kLow = static_cast<std::int64_t>(std::numeric_limits<T>::min());
        constexpr auto kHigh = static_cast<std::int64_t>(std::numeric_limits<T>::max());
        out = static_cast<T>(std::clamp(value.integer, kLow, kHigh));
    }
    std::memcpy(destination, &out, sizeof out);
}

void store(std::uint8_t* destination, SampleFormat format, const Value& value) {
    switch (format) {
        case SampleFormat::UInt8:
            return storeAs<std::uint8_t>(destination, value);
        case SampleFormat::Int16:
            return storeAs<std::int16_t>(destination, value);
        case SampleFormat::Int32:
            return storeAs<std::int32_t>(destination, value);
        case SampleFormat::Int64:
            return storeAs<std::int64_t>(destination, value);
        case SampleFormat::Float32:
            return storeAs<float>(destination, value);
        default:
            return storeAs<double>(destination, value);
    }
}

template <typename T>
void storeIntegersAs(std::span<const std::int32_t> values, std::uint8_t* destination) {
    constexpr auto kLow = static_cast<std::int64_t>(std::numeric_limits<T>::min());
    constexpr auto kHigh = static_cast<std::int64_t>(std::numeric_limits<T>::max());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto value = static_cast<T>(std::clamp<std::int64_t>(values[i], kLow, kHigh));
        std::memcpy(destination + i * sizeof(T), &value, sizeof value);
    }
}

// Decoded integers into an integer image, the common case, without a
// per-sample choice of types.
void storeIntegers(std::span<const std::int32_t> values, SampleFormat format,
                   std::span<std::uint8_t> output) {
    switch (format) {
        case SampleFormat::UInt8:
            return storeIntegersAs<std::uint8_t>(values, output.data());
        case SampleFormat::Int16:
            return storeIntegersAs<std::int16_t>(values, output.data());
        case SampleFormat::Int32:
            return storeIntegersAs<std::int32_t>(values, output.data());
        default:
            for (std::size_t i = 0; i < values.size(); ++i)
                store(output.data() + i * bytesPerSample(format), format,
                      Value{0.0, values[i], false});
    }
}

SampleFormat formatOfElement(char type) {
    switch (type) {
        case 'B':
            return SampleFormat::UInt8;
        case 'I':
            return SampleFormat::Int16;
        case 'J':
            return SampleFormat::Int32;
        case 'K':
            return SampleFormat::Int64;
        case 'E':
            return SampleFormat::Float32;
        case 'D':
            return SampleFormat::Float64;
        default:
            return SampleFormat::None;
    }
}

// A scalar field of a table row; nothing when absent or of no numeric type.
std::optional<Value> fieldValue(std::span<const std::uint8_t> row,
                                const std::optional<TableField>& field) {
    if (!field) return std::nullopt;
    const SampleFormat format = formatOfElement(field->type);
    const std::uint32_t size = bytesPerSample(format);
    if (size == 0 || field->offset + size > row.size()) return std::nullopt;
    return loadValue(row.data() + field->offset, format);
}

// GZIP_1 and GZIP_2 tiles are whole gzip streams of exactly the tile's bytes.
ReadStatus inflateExactly(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
    if (input.size() > std::numeric_limits<uInt>::max() ||
        output.size() > std::numeric_limits<uInt>::max()) {
        return ReadStatus::TooLarge;
    }
    z_stream stream{};
    constexpr int kGzipOrZlibWindow = 15 + 32;  // either header, detected
    if (inflateInit2(&stream, kGzipOrZlibWindow) != Z_OK) return ReadStatus::TooLarge;
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int result = inflate(&stream, Z_FINISH);
    const bool whole = result == Z_STREAM_END && stream.avail_out == 0;
    inflateEnd(&stream);
    return whole ? ReadStatus::Ok : ReadStatus::Malformed;
}

// GZIP_2 stored each value's most significant bytes first, then the next.
void unshuffleInto(std::span<const std::uint8_t> shuffled, std::uint32_t size,
                   std::span<std::uint8_t> output) {
    const std::size_t count = shuffled.size() / size;
    for (std::uint32_t b = 0; b < size; ++b)
        for (std::size_t i = 0; i < count; ++i) output[i * size + b] = shuffled[b * count + i];
}

template <typename T>
bool resizeWithin(std::vector<T>& buffer, std::uint64_t count) {
    try {
        buffer.resize(static_cast<std::size_t>(count));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

TileDecoder::TileDecoder(Reader& file, const ImageBlock& block, std::uint64_t maxTileBytes)
    : file_(file), block_(block), tiles_(*block.tiles), maxTileBytes_(maxTileBytes) {}

ReadStatus TileDecoder::readRow(std::uint64_t index) {
    if (index >= tiles_.rowCount || tiles_.rowBytes > kMaxRowBytes) return ReadStatus::Malformed;
    if (!resizeWithin(row_, tiles_.rowBytes)) return ReadStatus::TooLarge;
    const ReadStatus status =
        readExact(file_, block_.position + index * tiles_.rowBytes, row_.data(), row_.size());
    bytesRead_ += row_.size();
    return status;
}

// A heap array's bytes, by the descriptor in `field` of the current row;
// empty when the descriptor counts none.
ReadStatus TileDecoder::readHeapArray(const TableField& field, std::vector<std::uint8_t>& bytes,
                                      char& elementType) {
    const bool wide = field.type == 'Q';
    const std::uint32_t half = wide ? 8 : 4;
    if (field.offset + 2 * half > row_.size()) return ReadStatus::Malformed;
    const std::uint64_t countBits = loadBigEndian(row_.data() + field.offset, half);
    const std::uint64_t offsetBits = loadBigEndian(row_.data() + field.offset + half, half);
    const std::int64_t count = signExtended(countBits, half);
    const std::int64_t offset = signExtended(offsetBits, half);
    if (count < 0 || offset < 0) return ReadStatus::Malformed;
    const std::uint32_t elementSize = bytesPerSample(formatOfElement(field.elementType));
    const auto length =
        safeMultiply(static_cast<std::uint64_t>(count), elementSize == 0 ? 1 : elementSize);
    if (!length) return ReadStatus::Malformed;
    if (*length > maxTileBytes_) return ReadStatus::TooLarge;
    if (!rangeWithin(static_cast<std::uint64_t>(offset), *length, tiles_.heapBytes))
        return ReadStatus::Malformed;
    if (!resizeWithin(bytes, *length)) return ReadStatus::TooLarge;
    elementType = field.elementType;
    if (bytes.empty()) return ReadStatus::Ok;
    const std::uint64_t at =
        block_.position + tiles_.heapOffset + static_cast<std::uint64_t>(offset);
    bytesRead_ += bytes.size();
    return readExact(file_, at, bytes.data(), bytes.size());
}

ReadStatus TileDecoder::decodeIntegers(const TileShape& shape) {
    if (!resizeWithin(integers_, shape.pixels())) return ReadStatus::TooLarge;
    switch (tiles_.algorithm) {
        case TileAlgorithm::Rice:
            return decodeRice(compressed_, tiles_.bytePix, tiles_.blockSize, integers_);
        case TileAlgorithm::Plio: {
            // PLIO codes non-negative values: signed images offset to unsigned
            // (BZERO 2^15 or 2^31) were coded as the unsigned values.
            const ReadStatus status = decodePlio(compressed_, integers_);
            const std::int64_t offset = unsignedOffset();
            if (status == ReadStatus::Ok && offset != 0)
                for (auto& value : integers_) value = static_cast<std::int32_t>(value - offset);
            return status;
        }
        case TileAlgorithm::Hcompress:
            if (shape.planes != 1) return ReadStatus::Unsupported;
            return decodeHcompress(compressed_, static_cast<std::uint32_t>(shape.width),
                                   static_cast<std::uint32_t>(shape.height), tiles_.smooth,
                                   integers_);
        default:
            return ReadStatus::Unsupported;
    }
}

// GZIP and uncompressed tiles: the values as stored, `storedBytes` each.
ReadStatus TileDecoder::decodeStored(const TileShape& shape, std::uint64_t storedBytes,
                                     TileAlgorithm algorithm) {
    const auto length = safeMultiply(shape.pixels(), storedBytes);
    if (!length || *length > maxTileBytes_) return ReadStatus::TooLarge;
    if (algorithm == TileAlgorithm::NoCompress) {
        if (compressed_.size() != *length) return ReadStatus::Malformed;
        stored_.swap(compressed_);
        return ReadStatus::Ok;
    }
    if (!resizeWithin(stored_, *length)) return ReadStatus::TooLarge;
    if (algorithm != TileAlgorithm::Gzip2) return inflateExactly(compressed_, stored_);
    std::vector<std::uint8_t> shuffled;
    if (!resizeWithin(shuffled, *length)) return ReadStatus::TooLarge;
    const ReadStatus status = inflateExactly(compressed_, shuffled);
    if (status == ReadStatus::Ok)
        unshuffleInto(shuffled, static_cast<std::uint32_t>(storedBytes), stored_);
    return status;
}

// Picks the field the tile's data is in (compressed, else losslessly
// gzipped, else stored as it is) and undoes its coding.
ReadStatus TileDecoder::decodeData(const TileShape& shape, TileData& data) {
    char elementType = 0;
    if (tiles_.compressed) {
        ReadStatus status = readHeapArray(*tiles_.compressed, compressed_, elementType);
        if (status != ReadStatus::Ok) return status;
        if (!compressed_.empty()) {
            data.quantised = tiles_.quantization != Quantization::None;
            if (tiles_.algorithm == TileAlgorithm::Rice ||
                tiles_.algorithm == TileAlgorithm::Plio ||
                tiles_.algorithm == TileAlgorithm::Hcompress) {
                data.fromIntegers = true;
                return decodeIntegers(shape);
            }
            data.storedFormat =
                data.quantised ? SampleFormat::Int32 : sampleFormatForBitpix(tiles_.zbitpix);
            return decodeStored(shape, bytesPerSample(data.storedFormat), tiles_.algorithm);
        }
    }
    if (tiles_.gzipped) {
        ReadStatus status = readHeapArray(*tiles_.gzipped, compressed_, elementType);
        if (status != ReadStatus::Ok) return status;
        if (!compressed_.empty()) {
            data.storedFormat = sampleFormatForBitpix(tiles_.zbitpix);
            return decodeStored(shape, bytesPerSample(data.storedFormat), TileAlgorithm::Gzip1);
        }
    }
    if (tiles_.uncompressed) {
        ReadStatus status = readHeapArray(*tiles_.uncompressed, stored_, elementType);
        if (status != ReadStatus::Ok) return status;
        data.storedFormat = formatOfElement(elementType);
        const std::uint32_t size = bytesPerSample(data.storedFormat);
        if (size != 0 && stored_.size() == shape.pixels() * size) return ReadStatus::Ok;
    }
    return ReadStatus::Malformed;
}

std::int64_t TileDecoder::unsignedOffset() const {
    if (block_.physicalScale != 1.0) return 0;
    if (tiles_.zbitpix == 16 && block_.physicalOffset == 32768.0) return 32768;
    if (tiles_.zbitpix == 32 && block_.physicalOffset == 2147483648.0) return 2147483648;
    return 0;
}

double TileDecoder::fieldOrKeyword(const std::optional<TableField>& field, double keyword) const {
    const auto value = fieldValue(row_, field);
    if (!value) return keyword;
    return value->isReal ? value->real : static_cast<double>(value->integer);
}

std::optional<std::int64_t> TileDecoder::blankValue() const {
    const auto value = fieldValue(row_, tiles_.blankField);
    if (!value || value->isReal) return tiles_.blank;
    return value->integer;
}

ReadStatus TileDecoder::decode(std::uint64_t index, const TileShape& shape,
                               std::span<std::uint8_t> output) {
    const SampleFormat format = block_.sampleFormat;
    // The largest of the buffers a tile needs: its samples, or its integers.
    const std::uint64_t widest =
        std::max<std::uint64_t>(bytesPerSample(format), sizeof(std::int32_t));
    const auto pixelBytes = safeMultiply(shape.pixels(), widest);
    if (!pixelBytes || *pixelBytes > maxTileBytes_) return ReadStatus::TooLarge;
    if (output.size() != shape.pixels() * bytesPerSample(format)) return ReadStatus::Malformed;
    ReadStatus status = readRow(index);
    if (status != ReadStatus::Ok) return status;
    TileData data;
    status = decodeData(shape, data);
    if (status != ReadStatus::Ok) return status;
    ++tilesDecoded_;
    const double scale = fieldOrKeyword(tiles_.scaleField, tiles_.scale);
    const double zero = fieldOrKeyword(tiles_.zeroField, tiles_.zero);
    const std::optional<std::int64_t> blank = blankValue();
    if (data.fromIntegers && !data.quantised) {
        storeIntegers(integers_, format, output);
        return ReadStatus::Ok;
    }
    const std::uint32_t storedSize = bytesPerSample(data.storedFormat);
    const std::uint32_t outSize = bytesPerSample(format);
    const bool dithered = data.quantised && tiles_.quantization != Quantization::NoDither;
    DitherWalk walk(index, tiles_.ditherSeed);
    for (std::uint64_t i = 0; i < shape.pixels(); ++i) {
        Value value = data.fromIntegers
                          ? Value{0.0, integers_[i], false}
                          : loadValue(stored_.data() + i * storedSize, data.storedFormat);
        if (data.quantised) {
            const float dither = dithered ? walk.next() : 0.5f;
            const std::int64_t q = value.integer;
            value.isReal = true;
            if (blank && q == *blank) {
                value.real = std::numeric_limits<double>::quiet_NaN();
            } else if (tiles_.quantization == Quantization::SubtractiveDither2 && q == kZeroValue) {
                value.real = 0.0;
            } else {
                value.real = (static_cast<double>(q) - dither + 0.5) * scale + zero;
            }
        }
        store(output.data() + i * outSize, format, value);
    }
    return ReadStatus::Ok;
}

}  // namespace cv
