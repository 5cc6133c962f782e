#include "render/sample_conversion.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using cv::SampleFormat;

// Bytes of one sample in the requested order.
template <typename T>
std::vector<std::uint8_t> bytesOf(T value, bool bigEndian) {
    std::vector<std::uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    if (bigEndian == (std::endian::native == std::endian::little))
        std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

float convertOne(const std::vector<std::uint8_t>& bytes, SampleFormat format, bool bigEndian,
                 float scale = 1.0f, float offset = 0.0f) {
    float out = -1.0f;
    EXPECT_TRUE(cv::convertRow(bytes.data(), 1, format, bigEndian, scale, offset, &out));
    return out;
}

TEST(ConvertRow, ReadsUInt16InBothByteOrders) {
    const std::vector<std::uint8_t> bytes = {0x12, 0x34};
    EXPECT_EQ(convertOne(bytes, SampleFormat::UInt16, false), 13330.0f);
    EXPECT_EQ(convertOne(bytes, SampleFormat::UInt16, true), 4660.0f);
}

struct FormatCase {
    const char* name;
    SampleFormat format;
    std::vector<std::uint8_t> little;  // one sample, little-endian
    double raw;
};

TEST(ConvertRow, ConvertsEveryFormatInBothOrders) {
    const FormatCase cases[] = {
        {"UInt8", SampleFormat::UInt8, bytesOf<std::uint8_t>(200, false), 200},
        {"Int8", SampleFormat::Int8, bytesOf<std::int8_t>(-100, false), -100},
        {"UInt16", SampleFormat::UInt16, bytesOf<std::uint16_t>(65000, false), 65000},
        {"Int16", SampleFormat::Int16, bytesOf<std::int16_t>(-30000, false), -30000},
        {"UInt32", SampleFormat::UInt32, bytesOf<std::uint32_t>(4000000000u, false), 4000000000.0},
        {"Int32", SampleFormat::Int32, bytesOf<std::int32_t>(-2000000000, false), -2000000000.0},
        {"UInt64", SampleFormat::UInt64, bytesOf<std::uint64_t>(1ULL << 60, false),
         1152921504606846976.0},
        {"Int64", SampleFormat::Int64, bytesOf<std::int64_t>(-(1LL << 62), false),
         -4611686018427387904.0},
        {"Float32", SampleFormat::Float32, bytesOf<float>(0.25f, false), 0.25},
        {"Float64", SampleFormat::Float64, bytesOf<double>(0.125, false), 0.125},
    };
    for (const auto& c : cases) {
        std::vector<std::uint8_t> big = c.little;
        std::reverse(big.begin(), big.end());
        const auto expected = static_cast<float>(c.raw * 0.5 + 0.25);
        EXPECT_EQ(convertOne(c.little, c.format, false, 0.5f, 0.25f), expected)
            << c.name << " little-endian";
        EXPECT_EQ(convertOne(big, c.format, true, 0.5f, 0.25f), expected)
            << c.name << " big-endian";
    }
}

TEST(ConvertRow, DefaultNormalisationMapsTheInt16RangeOntoZeroToOne) {
    const auto n = cv::defaultNormalization(SampleFormat::Int16);
    EXPECT_EQ(convertOne(bytesOf<std::int16_t>(-32768, false), SampleFormat::Int16, false, n.scale,
                         n.offset),
              0.0f);
    EXPECT_EQ(convertOne(bytesOf<std::int16_t>(32767, false), SampleFormat::Int16, false, n.scale,
                         n.offset),
              1.0f);
}

TEST(ConvertRow, NonFiniteFloatingPointBecomesZero) {
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(convertOne(bytesOf(std::numeric_limits<float>::quiet_NaN(), true),
                         SampleFormat::Float32, true),
              0.0f);
    EXPECT_EQ(convertOne(bytesOf(inf, false), SampleFormat::Float32, false, 1.0f, 3.0f), 3.0f)
        << "zeroed before scaling";
    EXPECT_EQ(convertOne(bytesOf(3e38f, false), SampleFormat::Float32, false, 10.0f), 0.0f)
        << "scaled past float";
    EXPECT_EQ(convertOne(bytesOf(1e300, false), SampleFormat::Float64, false), 0.0f)
        << "not finite as a float";
    EXPECT_EQ(convertOne(bytesOf(std::numeric_limits<double>::infinity(), true),
                         SampleFormat::Float64, true),
              0.0f);
}

TEST(ConvertRow, WideIntegersUseDoublePrecision) {
    // 2^32 - 1 scaled by 2^-32 is just below 1 in double, and rounds to 1.0f.
    const float value = convertOne(bytesOf<std::uint32_t>(0xFFFFFFFFu, false), SampleFormat::UInt32,
                                   false, std::bit_cast<float>(0x2F800000u));
    EXPECT_EQ(value, static_cast<float>(4294967295.0 / 4294967296.0));
}

TEST(ConvertRow, ConvertsWholeRowsOfEveryLength) {
    // Lengths around vector widths, so the tail of a vectorised loop is covered.
    for (std::size_t count : {1u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 33u, 1000u}) {
        std::vector<std::uint8_t> raw;
        for (std::size_t i = 0; i < count; ++i) {
            raw.push_back(static_cast<std::uint8_t>(i >> 8));
            raw.push_back(static_cast<std::uint8_t>(i));
        }
        std::vector<float> out(count + 1, -7.0f);
        ASSERT_TRUE(
            cv::convertRow(raw.data(), count, SampleFormat::UInt16, true, 2.0f, 1.0f, out.data()));
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(out[i], static_cast<float>(i) * 2.0f + 1.0f) << count;
        EXPECT_EQ(out[count], -7.0f) << "nothing written past the row";
    }
}

TEST(ConvertRow, RefusesNullPointersAndUnknownFormats) {
    std::uint8_t raw[8] = {};
    float out[1];
    EXPECT_FALSE(cv::convertRow(nullptr, 1, SampleFormat::UInt8, false, 1, 0, out));
    EXPECT_FALSE(cv::convertRow(raw, 1, SampleFormat::UInt8, false, 1, 0, nullptr));
    EXPECT_FALSE(cv::convertRow(raw, 1, static_cast<SampleFormat>(11), false, 1, 0, out));
    EXPECT_FALSE(cv::convertRow(raw, 1, SampleFormat::None, false, 1, 0, out));
    EXPECT_TRUE(cv::convertRow(raw, 0, SampleFormat::UInt8, false, 1, 0, out));
}

}  // namespace
