#include "render/compose_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(PrepareAccumulator, ChecksGeometryAndMemory) {
    cv::BoxAccumulator accumulator;
    EXPECT_EQ(cv::prepareAccumulator(accumulator, 0, 10, 1, 100, 1 << 20),
              cv::ReadStatus::Malformed);
    EXPECT_EQ(cv::prepareAccumulator(accumulator, 10, 10, 5, 100, 1 << 20),
              cv::ReadStatus::Malformed);
    EXPECT_EQ(cv::prepareAccumulator(accumulator, 10, 10, 1, 100001, 1 << 20),
              cv::ReadStatus::Malformed);
    // 4 x (2 x 100 + 20 + 10) = 920 bytes for one channel of 10 x 10.
    EXPECT_EQ(cv::prepareAccumulator(accumulator, 10, 10, 1, 100, 919), cv::ReadStatus::TooLarge);
    EXPECT_EQ(cv::prepareAccumulator(accumulator, 10, 10, 1, 100, 920), cv::ReadStatus::Ok);
    EXPECT_EQ(cv::prepareAccumulator(accumulator, 0xFFFFFFFF, 0xFFFFFFFF, 4, 100, ~0ull),
              cv::ReadStatus::TooLarge)
        << "a byte count that overflows";
}

TEST(PrepareAccumulator, GivesEveryColumnABox) {
    cv::BoxAccumulator accumulator;
    ASSERT_EQ(cv::prepareAccumulator(accumulator, 4, 1, 1, 10, 1 << 20), cv::ReadStatus::Ok);
    EXPECT_EQ(accumulator.columnStart, (std::vector<std::uint32_t>{0, 2, 5, 7}));
    EXPECT_EQ(accumulator.columnEnd, (std::vector<std::uint32_t>{2, 5, 7, 10}));
    // Narrower than the output: neighbouring boxes share a column.
    ASSERT_EQ(cv::prepareAccumulator(accumulator, 4, 1, 1, 2, 1 << 20), cv::ReadStatus::Ok);
    EXPECT_EQ(accumulator.columnStart, (std::vector<std::uint32_t>{0, 0, 1, 1}));
    EXPECT_EQ(accumulator.columnEnd, (std::vector<std::uint32_t>{1, 1, 2, 2}));
}

TEST(AccumulateRow, SumsAndRemembersTheBrightestSampleOfEachBox) {
    cv::BoxAccumulator accumulator;
    ASSERT_EQ(cv::prepareAccumulator(accumulator, 2, 2, 2, 30, 1 << 20), cv::ReadStatus::Ok);
    std::vector<float> row(30);
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<float>(i);
    cv::accumulateRow(accumulator, 0, 1, row.data());
    cv::accumulateRow(accumulator, 0, 1, row.data());
    cv::accumulateRow(accumulator, 1, 1, row.data());
    cv::accumulateRow(accumulator, 2, 1, row.data());  // no such channel: ignored
    cv::accumulateRow(accumulator, 0, 2, row.data());  // no such row: ignored
    EXPECT_EQ(accumulator.sum(0, 1, 0), 2.0f * (0 + 14) * 15 / 2);
    EXPECT_EQ(accumulator.sum(0, 1, 1), 2.0f * (15 + 29) * 15 / 2);
    EXPECT_EQ(accumulator.maximum(0, 1, 1), 29.0f);
    EXPECT_EQ(accumulator.count(1, 0), 30u) << "counted on channel 0 only";
    EXPECT_EQ(accumulator.count(0, 0), 0u);
    EXPECT_EQ(accumulator.sum(1, 1, 0), (0 + 14) * 15 / 2.0f);
}

cv::BoxAccumulator oneColumn(std::uint32_t height) {
    cv::BoxAccumulator accumulator;
    EXPECT_EQ(cv::prepareAccumulator(accumulator, 1, height, 1, 1, 1 << 20), cv::ReadStatus::Ok);
    return accumulator;
}

TEST(ComposeImage, InterpolatesRowsWithoutSamples) {
    cv::BoxAccumulator accumulator = oneColumn(5);
    const float black = 0.0f;
    const float grey = 100.0f / 255.0f;
    cv::accumulateRow(accumulator, 0, 0, &black);
    cv::accumulateRow(accumulator, 0, 4, &grey);
    cv::StretchParameters identity;
    identity.identity = true;
    cv::RgbImage image;
    cv::composeImage(accumulator, identity, cv::PeakBlend{}, 0.0f, image);
    ASSERT_EQ(image.height, 5u);
    const int expected[] = {0, 25, 50, 75, 100};
    for (std::uint32_t y = 0; y < 5; ++y) EXPECT_EQ(image.row(y)[0], expected[y]) << "row " << y;
}

TEST(ComposeImage, CopiesTheNearestRowAtTheEdgesAndLeavesAnEmptyImageBlack) {
    cv::BoxAccumulator accumulator = oneColumn(4);
    const float value = 0.5f;
    cv::accumulateRow(accumulator, 0, 2, &value);
    cv::StretchParameters identity;
    identity.identity = true;
    cv::RgbImage image;
    cv::composeImage(accumulator, identity, cv::PeakBlend{}, 0.0f, image);
    for (std::uint32_t y = 0; y < 4; ++y) EXPECT_EQ(image.row(y)[1], 128) << "row " << y;

    cv::BoxAccumulator empty = oneColumn(3);
    cv::composeImage(empty, identity, cv::PeakBlend{}, 0.0f, image);
    for (std::uint8_t byte : image.pixels) EXPECT_EQ(byte, 0);
}

TEST(ComposeImage, BlendsPeaksOnlyIntoBoxesWithSeveralSamples) {
    cv::StretchParameters stretch;
    stretch.linked = true;
    stretch.midtones[0] = 0.05f;  // a strong stretch: peak weight 0.9^3
    cv::PeakBlend peaks{1.0f, 1.0f, 2.0f};
    cv::BoxAccumulator single = oneColumn(1);
    const float star = 0.9f;
    cv::accumulateRow(single, 0, 0, &star);
    cv::RgbImage image;
    cv::composeImage(single, stretch, peaks, 0.001f, image);
    const auto curve = cv::toneCurve(stretch, 0);
    EXPECT_EQ(image.row(0)[0], cv::displayByte(cv::applyCurve(curve, 0.9f)))
        << "a box with one sample shows its mean";

    cv::BoxAccumulator wide;
    ASSERT_EQ(cv::prepareAccumulator(wide, 1, 1, 1, 16, 1 << 20), cv::ReadStatus::Ok);
    std::vector<float> row(16, 0.01f);
    row[7] = 0.9f;
    cv::accumulateRow(wide, 0, 0, row.data());
    cv::composeImage(wide, stretch, peaks, 0.001f, image);
    const float mean = (15 * 0.01f + 0.9f) / 16;
    EXPECT_GT(image.row(0)[0], cv::displayByte(cv::applyCurve(curve, mean)))
        << "a star smaller than its box keeps some of its brightness";
}

TEST(ResizeRgbImage, RefusesEmptyAndHugePictures) {
    cv::RgbImage image;
    EXPECT_FALSE(cv::resizeRgbImage(image, 0, 10));
    EXPECT_FALSE(cv::resizeRgbImage(image, 65536, 65536));
    EXPECT_TRUE(image.empty());
    EXPECT_TRUE(cv::resizeRgbImage(image, 3, 2));
    EXPECT_EQ(image.pixels.size(), 18u);
}

}  // namespace
