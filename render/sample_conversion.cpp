#include "render/sample_conversion.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "render/avx2_kernels.h"
#include "render/instruction_set.h"

namespace cv {

namespace {

// Byte reversal written as shifts, which compilers turn into bswap and vectorise.
constexpr std::uint16_t swapBytes(std::uint16_t v) {
    return static_cast<std::uint16_t>((v >> 8) | (v << 8));
}
constexpr std::uint32_t swapBytes(std::uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}
constexpr std::uint64_t swapBytes(std::uint64_t v) {
    return (static_cast<std::uint64_t>(swapBytes(static_cast<std::uint32_t>(v))) << 32) |
           swapBytes(static_cast<std::uint32_t>(v >> 32));
}

template <typename Bits, bool Swap>
Bits loadBits(const unsigned char* bytes) {
    Bits bits;
    std::memcpy(&bits, bytes, sizeof bits);
    if constexpr (Swap && sizeof(Bits) > 1) bits = swapBytes(bits);
    return bits;
}

template <typename T>
using BitsOf = std::conditional_t<
    sizeof(T) == 1, std::uint8_t,
    std::conditional_t<sizeof(T) == 2, std::uint16_t,
                       std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;

// 8- and 16-bit integers: single precision throughout.
template <typename Raw, bool Swap>
void convertSmallIntegers(const unsigned char* src, std::size_t count, float scale, float offset,
                          float* dst) {
    for (std::size_t i = 0; i < count; ++i) {
        const auto raw = std::bit_cast<Raw>(loadBits<BitsOf<Raw>, Swap>(src + i * sizeof(Raw)));
        dst[i] = static_cast<float>(raw) * scale + offset;
    }
}

// 32- and 64-bit integers: double precision, then rounded to single.
template <typename Raw, bool Swap>
void convertWideIntegers(const unsigned char* src, std::size_t count, float scale, float offset,
                         float* dst) {
    const double s = scale;
    const double o = offset;
    for (std::size_t i = 0; i < count; ++i) {
        const auto raw = std::bit_cast<Raw>(loadBits<BitsOf<Raw>, Swap>(src + i * sizeof(Raw)));
        dst[i] = static_cast<float>(static_cast<double>(raw) * s + o);
    }
}

// Finiteness tested on the exponent bits, without branches, so the loops vectorise.
constexpr std::uint32_t kFloatExponent = 0x7F800000u;
constexpr std::uint64_t kDoubleExponent = 0x7FF0000000000000ull;

float zeroIfNotFinite(float value) {
    return (std::bit_cast<std::uint32_t>(value) & kFloatExponent) == kFloatExponent ? 0.0f : value;
}

template <bool Swap>
void convertFloat32(const unsigned char* src, std::size_t count, float scale, float offset,
                    float* dst) {
    for (std::size_t i = 0; i < count; ++i) {
        const float raw =
            zeroIfNotFinite(std::bit_cast<float>(loadBits<std::uint32_t, Swap>(src + i * 4)));
        dst[i] = zeroIfNotFinite(raw * scale + offset);
    }
}

template <bool Swap>
void convertFloat64(const unsigned char* src, std::size_t count, float scale, float offset,
                    float* dst) {
    const double s = scale;
    const double o = offset;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t bits = loadBits<std::uint64_t, Swap>(src + i * 8);
        const double raw =
            (bits & kDoubleExponent) == kDoubleExponent ? 0.0 : std::bit_cast<double>(bits);
        dst[i] = zeroIfNotFinite(static_cast<float>(raw * s + o));
    }
}

template <bool Swap>
bool convertWithOrder(const unsigned char* src, std::size_t count, SampleFormat format, float scale,
                      float offset, float* dst) {
    switch (format) {
        case SampleFormat::UInt8:
            convertSmallIntegers<std::uint8_t, Swap>(src, count, scale, offset, dst);
            return true;
        case SampleFormat::Int8:
            convertSmallIntegers<std::int8_t, Swap>(src, count, scale, offset, dst);
            return true;
        case SampleFormat::UInt16:
            convertSmallIntegers<std::uint16_t, Swap>(src, count, scale, offset, dst);
            return true;
        case SampleFormat::Int16:
            convertSmallIntegers<std::int16_t, Swap>(src, count, scale, offset, dst);
            return true;
        case SampleFormat::UInt32:
            convertWideIntegers<std::uint32_t, Swap>(src, count, scale, offset, dst);
            return true;
        case SampleFormat::Int32:
            convertWideIntegers<std::int32_t, Swap>(src, count, scale, offset, dst);
            return true;
        case SampleFormat::UInt64:
            convertWideIntegers<std::uint64_t, Swap>(src, count, scale, offset, dst);
            return true;
        case SampleFormat::Int64:
            convertWideIntegers<std::int64_t, Swap>(src, count, scale, offset, dst);
            return true;
        case SampleFormat::Float32:
            convertFloat32<Swap>(src, count, scale, offset, dst);
            return true;
        case SampleFormat::Float64:
            convertFloat64<Swap>(src, count, scale, offset, dst);
            return true;
        default:
            return false;
    }
}

}  // namespace

bool convertRow(const void* raw, std::size_t count, SampleFormat format, bool bigEndian,
                float scale, float offset, float* destination) {
    if (raw == nullptr || destination == nullptr) return false;
    if (count == 0) return true;
    const auto* bytes = static_cast<const unsigned char*>(raw);
    // Samples are stored little-endian unless the flag says otherwise; swap
    // exactly when the stored order differs from this machine's.
    const bool swap = bigEndian != (std::endian::native == std::endian::big);
    std::size_t done = 0;
#if CORVANE_AVX2_KERNELS
    if (activeInstructionSet() == InstructionSet::Avx2) {
        done = avx2::convertSamples(bytes, count, format, swap, scale, offset, destination);
    }
#endif
    bytes += done * bytesPerSample(format);
    destination += done;
    count -= done;
    return swap ? convertWithOrder<true>(bytes, count, format, scale, offset, destination)
                : convertWithOrder<false>(bytes, count, format, scale, offset, destination);
}

}  // namespace cv
