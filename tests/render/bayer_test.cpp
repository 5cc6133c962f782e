#include "render/bayer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(ParseBayerPattern, AcceptsOneRedTwoGreensOneBlue) {
    const auto grbg = cv::parseBayerPattern("GRBG");
    ASSERT_TRUE(grbg.has_value());
    EXPECT_EQ(grbg->colors, (std::array<std::uint8_t, 4>{1, 0, 2, 1}));
    const auto rgbg = cv::parseBayerPattern("RGBG");
    ASSERT_TRUE(rgbg.has_value()) << "only the letter counts are tested";
    EXPECT_EQ(rgbg->colors, (std::array<std::uint8_t, 4>{0, 1, 2, 1}));
    for (const char* bad : {"RRGB", "rggb", "RGB", "RGGBB", "RGGX", ""}) {
        EXPECT_FALSE(cv::parseBayerPattern(bad).has_value()) << bad;
    }
}

TEST(HasBayerPattern, NeedsATwoByTwoCellAndFourLetters) {
    cv::ImageData data;
    data.cfaPattern = "RGGB";
    EXPECT_FALSE(cv::hasBayerPattern(data));
    data.cfaWidth = data.cfaHeight = 2;
    EXPECT_TRUE(cv::hasBayerPattern(data));
    data.cfaPattern = "RGB";
    EXPECT_FALSE(cv::hasBayerPattern(data));
}

cv::ImageData framed(const char* imagetyp, const char* frame) {
    cv::ImageData data;
    if (imagetyp != nullptr) data.keywords.push_back({"IMAGETYP", imagetyp, ""});
    if (frame != nullptr) data.keywords.push_back({"FRAME", frame, ""});
    return data;
}

TEST(FrameTypeMatches, FindsCalibrationWordsInImagetypThenFrame) {
    struct Case {
        const char* name;
        cv::ImageData data;
        bool colorless;
        bool calibration;
    } cases[] = {
        {"Dark Flat", framed("'Dark Flat'", nullptr), true, true},
        {"Flat Field", framed("'Flat Field'", nullptr), false, true},
        {"BIAS", framed("'BIAS'", nullptr), true, true},
        {"Light with empty IMAGETYP", framed("''", "'Light'"), false, false},
        {"FRAME dark", framed(nullptr, "'Dark'"), true, true},
        {"Light Frame", framed("'Light Frame'", nullptr), false, false},
        {"no keywords", framed(nullptr, nullptr), false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cv::frameTypeMatches(c.data, cv::kColorlessFrameWords), c.colorless) << c.name;
        EXPECT_EQ(cv::frameTypeMatches(c.data, cv::kCalibrationFrameWords), c.calibration)
            << c.name;
    }
}

// A UInt16 little-endian mono image whose four cell positions hold the given levels.
std::vector<std::uint8_t> cellImage(std::uint32_t width, std::uint32_t height,
                                    std::array<std::uint16_t, 4> levels) {
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint16_t v = levels[(y % 2) * 2 + (x % 2)];
            bytes.push_back(static_cast<std::uint8_t>(v));
            bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    }
    return bytes;
}

bool probe(std::uint32_t width, std::uint32_t height, std::array<std::uint16_t, 4> levels) {
    const auto bytes = cellImage(width, height, levels);
    cv::MemoryReader reader(bytes.data(), bytes.size());
    return cv::probeBayer(reader, 0, width * 2ull, width, height, cv::SampleFormat::UInt16, false,
                          1.0f, 0.0f);
}

TEST(ProbeBayer, DecidesByTheSpreadOfTheFourCellPositions) {
    EXPECT_TRUE(probe(64, 64, {1000, 1030, 1000, 1010})) << "30 / 1010 is above 0.02";
    EXPECT_FALSE(probe(64, 64, {1000, 1010, 1000, 1005}));
    EXPECT_FALSE(probe(3, 64, {1000, 2000, 1000, 1000})) << "narrower than 4";
    EXPECT_FALSE(probe(64, 7, {1000, 2000, 1000, 1000})) << "shorter than 8";
    EXPECT_FALSE(probe(64, 64, {0, 0, 0, 0})) << "a mean that is not positive";
}

TEST(ProbeBayer, TakesRowPairsAtEvenRowsOfAnEightRowImage) {
    // Rows 0..7 with a step only between row pairs; the probe must still see
    // both parities of each pair it takes.
    EXPECT_TRUE(probe(16, 8, {1000, 1100, 1000, 1000}));
}

TEST(ProbeBayer, FailsQuietlyOnAShortSource) {
    const auto bytes = cellImage(64, 64, {1000, 1030, 1000, 1010});
    cv::MemoryReader reader(bytes.data(), bytes.size() / 2);
    EXPECT_FALSE(cv::probeBayer(reader, 0, 128, 64, 64, cv::SampleFormat::UInt16, false, 1, 0));
}

TEST(DemosaicRowPair, MakesOneColourPixelPerCell) {
    const float first[] = {1, 2, 10, 20};
    const float second[] = {3, 4, 30, 40};
    float red[2], green[2], blue[2];
    cv::demosaicRowPair(first, second, 2, *cv::parseBayerPattern("RGGB"), red, green, blue);
    EXPECT_EQ(red[0], 1.0f);
    EXPECT_EQ(green[0], 2.5f);
    EXPECT_EQ(blue[0], 4.0f);
    EXPECT_EQ(red[1], 10.0f);
    EXPECT_EQ(green[1], 25.0f);
    EXPECT_EQ(blue[1], 40.0f);
    cv::demosaicRowPair(first, second, 2, *cv::parseBayerPattern("GBRG"), red, green, blue);
    EXPECT_EQ(red[0], 3.0f);
    EXPECT_EQ(green[0], 2.5f);
    EXPECT_EQ(blue[0], 2.0f);
}

}  // namespace
