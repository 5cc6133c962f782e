#include "core/image_data.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>

namespace {

struct NormalizationCase {
    cv::SampleFormat format;
    std::uint32_t scaleBits;
    std::uint32_t offsetBits;
};

TEST(DefaultNormalization, IsBitExactForEveryFormat) {
    const NormalizationCase cases[] = {
        {cv::SampleFormat::UInt8, 0x3B808081, 0x00000000},
        {cv::SampleFormat::UInt16, 0x37800080, 0x00000000},
        {cv::SampleFormat::UInt32, 0x2F800000, 0x00000000},
        {cv::SampleFormat::UInt64, 0x1F800000, 0x00000000},
        {cv::SampleFormat::Int8, 0x3B808081, 0x3F008081},
        {cv::SampleFormat::Int16, 0x37800080, 0x3F000080},
        {cv::SampleFormat::Int32, 0x2F800000, 0x3F000000},
        {cv::SampleFormat::Int64, 0x1F800000, 0x3F000000},
        {cv::SampleFormat::Float32, 0x3F800000, 0x00000000},
        {cv::SampleFormat::Float64, 0x3F800000, 0x00000000},
        {cv::SampleFormat::None, 0x3F800000, 0x00000000},
        {static_cast<cv::SampleFormat>(42), 0x3F800000, 0x00000000},
    };
    for (const auto& c : cases) {
        const auto n = cv::defaultNormalization(c.format);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(n.scale), c.scaleBits)
            << cv::sampleFormatName(c.format);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(n.offset), c.offsetBits)
            << cv::sampleFormatName(c.format);
    }
}

TEST(DefaultNormalization, MatchesTheCorrectlyRoundedFractions) {
    EXPECT_EQ(cv::defaultNormalization(cv::SampleFormat::UInt8).scale, 1.0f / 255.0f);
    EXPECT_EQ(cv::defaultNormalization(cv::SampleFormat::Int16).offset, 32768.0f / 65535.0f);
    EXPECT_EQ(cv::defaultNormalization(cv::SampleFormat::Int8).offset, 128.0f / 255.0f);
}

TEST(SampleFormatTable, NamesSizesAndLookupsAgree) {
    for (std::uint32_t value = 1; value <= 10; ++value) {
        const auto format = static_cast<cv::SampleFormat>(value);
        EXPECT_EQ(cv::sampleFormatFromName(cv::sampleFormatName(format)), format);
        EXPECT_GT(cv::bytesPerSample(format), 0u);
    }
    EXPECT_EQ(cv::sampleFormatFromName("uint8"), cv::SampleFormat::None)
        << "names are case-sensitive";
    EXPECT_EQ(cv::sampleFormatFromName("UInt8 "), cv::SampleFormat::None);
    EXPECT_EQ(cv::bytesPerSample(static_cast<cv::SampleFormat>(11)), 0u);
    EXPECT_EQ(cv::bytesPerSample(cv::SampleFormat::Float64), 8u);
    EXPECT_STREQ(cv::sampleFormatName(cv::SampleFormat::None), "Unknown");
}

TEST(EnumerationNames, FallBackForValuesOutsideTheirTables) {
    EXPECT_STREQ(cv::fileKindName(cv::FileKind::Project), "Vellumar project");
    EXPECT_STREQ(cv::fileKindName(static_cast<cv::FileKind>(4)), "unknown");
    EXPECT_STREQ(cv::colorSpaceName(cv::ColorSpace::CIELab), "CIELab");
    EXPECT_STREQ(cv::colorSpaceName(static_cast<cv::ColorSpace>(3)), "Gray");
    EXPECT_STREQ(cv::codecName(cv::Codec::Lz4hc), "lz4hc");
    EXPECT_STREQ(cv::codecName(static_cast<cv::Codec>(7)), "none");
    EXPECT_STREQ(cv::dataLocationName(cv::DataLocation::Embedded), "embedded");
}

cv::ImageBlock block(std::uint64_t width, std::uint64_t height, std::uint32_t channels,
                     cv::SampleFormat format) {
    cv::ImageBlock b;
    b.width = width;
    b.height = height;
    b.channels = channels;
    b.sampleFormat = format;
    return b;
}

TEST(BlockByteSize, MultipliesWithAnOverflowCheckAtEveryStep) {
    EXPECT_EQ(cv::blockByteSize(block(6000, 4000, 3, cv::SampleFormat::UInt16)), 144000000u);
    EXPECT_EQ(cv::blockByteSize(block(1ULL << 32, 1ULL << 32, 1, cv::SampleFormat::UInt8)),
              std::nullopt);
    EXPECT_EQ(cv::blockByteSize(block(1ULL << 31, 1ULL << 31, 4, cv::SampleFormat::UInt8)),
              std::nullopt)
        << "overflow only at the channel step";
    EXPECT_EQ(cv::blockByteSize(block(1ULL << 30, 1ULL << 30, 16, cv::SampleFormat::Float64)),
              std::nullopt)
        << "overflow only at the bytes-per-sample step";
    EXPECT_EQ(cv::blockByteSize(block(10, 10, 1, cv::SampleFormat::None)), std::nullopt);
}

TEST(ImageBlockUsability, NeedsGeometryAndAKnownFormat) {
    EXPECT_TRUE(cv::isUsable(block(1, 1, 1, cv::SampleFormat::UInt8)));
    EXPECT_FALSE(cv::isUsable(block(0, 1, 1, cv::SampleFormat::UInt8)));
    EXPECT_FALSE(cv::isUsable(block(1, 1, 0, cv::SampleFormat::UInt8)));
    EXPECT_FALSE(cv::isUsable(block(1, 1, 1, static_cast<cv::SampleFormat>(12))));
}

TEST(ImageDataReset, LeavesNothingOfAnEarlierUse) {
    cv::ImageData data;
    data.kind = cv::FileKind::Fits;
    data.image = block(5, 5, 1, cv::SampleFormat::UInt8);
    data.image.scale = 3.0f;
    data.thumbnail.shuffleItemSize = 4;
    data.hasThumbnail = true;
    data.cfaPattern = "RGGB";
    data.keywords.push_back({"A", "1", ""});
    data.properties.push_back({"P", "String", "x"});
    data.imageCount = 2;
    data.headerLength = 2880;
    data.reset();
    EXPECT_EQ(data.kind, cv::FileKind::Unknown);
    EXPECT_EQ(data.image.width, 0u);
    EXPECT_EQ(data.image.scale, 1.0f);
    EXPECT_EQ(data.image.offset, 0.0f);
    EXPECT_EQ(data.image.shuffleItemSize, 1u);
    EXPECT_EQ(data.thumbnail.shuffleItemSize, 1u);
    EXPECT_FALSE(data.hasThumbnail);
    EXPECT_TRUE(data.cfaPattern.empty());
    EXPECT_TRUE(data.keywords.empty());
    EXPECT_TRUE(data.properties.empty());
    EXPECT_EQ(data.imageCount, 0u);
    EXPECT_EQ(data.headerLength, 0u);
}

struct KeywordCase {
    const char* stored;
    const char* expected;
};

TEST(KeywordValue, TrimsAndUnquotesStringValues) {
    const KeywordCase cases[] = {
        {"  'Light Frame'  ", "Light Frame"},
        {"'Light   '", "Light"},
        {"'", "'"},
        {"''", ""},
        {"'it''s'", "it''s"},
        {" 300.0 ", "300.0"},
        {"'unbalanced", "'unbalanced"},
    };
    for (const auto& c : cases) {
        cv::ImageData data;
        data.keywords.push_back({"IMAGETYP", c.stored, ""});
        EXPECT_EQ(cv::keywordValue(data, "imagetyp"), c.expected) << c.stored;
    }
}

TEST(KeywordValue, TakesTheFirstMatchOrTheFallback) {
    cv::ImageData data;
    data.keywords.push_back({"FILTER", "'Ha'", ""});
    data.keywords.push_back({"FILTER", "'OIII'", ""});
    EXPECT_EQ(cv::keywordValue(data, "Filter"), "Ha");
    EXPECT_EQ(cv::keywordValue(data, "OBJECT", "none"), "none");
    EXPECT_EQ(cv::keywordValue(data, "OBJECT"), "");
    EXPECT_EQ(cv::keywordValue(data, "", "fallback"), "fallback") << "an empty name finds nothing";
}

TEST(FindProperty, MatchesIdsExactly) {
    cv::ImageData data;
    data.properties.push_back({"Instrument:Camera:Name", "String", "ASI2600MM"});
    data.properties.push_back({"Observation:Object:Name", "String", "M 42"});
    const auto* found = cv::findProperty(data, "Observation:Object:Name");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->value, "M 42");
    EXPECT_EQ(cv::findProperty(data, "observation:object:name"), nullptr);
    EXPECT_EQ(cv::findProperty(data, "Observation:Object"), nullptr);
    EXPECT_EQ(cv::findProperty(data, ""), nullptr);
}

}  // namespace
