#include "render/stretch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

cv::ChannelStatistics monoStatistics(float median, float sigma, float dataLow = 0.0f,
                                     float dataHigh = 1.0f) {
    cv::ChannelStatistics statistics;
    statistics.dataLow = dataLow;
    statistics.dataHigh = dataHigh;
    statistics.channels = 1;
    statistics.channelValid[0] = true;
    statistics.median[0] = median;
    statistics.sigma[0] = sigma;
    statistics.mad[0] = sigma / 1.4826f;
    statistics.valid = true;
    return statistics;
}

TEST(MidtonesTransfer, PassesThroughTheMidtonesPoint) {
    EXPECT_FLOAT_EQ(cv::midtonesTransfer(0.25f, 0.25f), 0.5f);
    EXPECT_EQ(cv::midtonesTransfer(0.25f, 0.0f), 0.0f);
    EXPECT_EQ(cv::midtonesTransfer(0.25f, 1.0f), 1.0f);
    EXPECT_EQ(cv::midtonesTransfer(0.5f, 0.3f), 0.3f);
    EXPECT_EQ(cv::midtonesTransfer(0.0f, 0.3f), 1.0f);
    EXPECT_EQ(cv::midtonesTransfer(1.0f, 0.3f), 0.0f);
}

TEST(ComputeStretch, StretchesALinearImageFully) {
    cv::StretchOptions options;  // clipping -2.8, target 0.25, strength 1
    const auto stretch = cv::computeStretch(monoStatistics(0.01f, 0.002f), options);
    ASSERT_FALSE(stretch.identity);
    EXPECT_NEAR(stretch.shadows[0], 0.0044f, 1e-6);
    EXPECT_NEAR(stretch.midtones[0], 0.0165f, 2e-4);
    EXPECT_EQ(stretch.highlights[0], 1.0f);
    EXPECT_EQ(stretch.midtones[3], stretch.midtones[0]) << "linked sets fill all four channels";
}

TEST(ComputeStretch, LeavesAnAlreadyStretchedImageNearlyAlone) {
    cv::StretchOptions options;
    const auto stretch = cv::computeStretch(monoStatistics(0.25f, 0.02f), options);
    EXPECT_NEAR(stretch.midtones[0], 0.5f, 0.02f);
    EXPECT_NEAR(stretch.shadows[0], 0.0f, 0.01f);
}

// Between fully stretched and spared, the curve moves part of the way: it
// clips nothing at the top, and a moderately bright pixel stays far from white.
TEST(ComputeStretch, PartlySparesAnImageInTheFadeZone) {
    cv::StretchOptions unspared;
    unspared.stretchStrength = 0.0f;
    const auto statistics = monoStatistics(0.1f, 0.01f, 0.0f, 0.6f);
    const auto full = cv::computeStretch(statistics, unspared);
    const auto faded = cv::computeStretch(statistics, cv::StretchOptions{});
    EXPECT_EQ(faded.highlights[0], 1.0f);
    EXPECT_GT(faded.shadows[0], 0.0f);
    EXPECT_LT(faded.shadows[0], full.shadows[0]);
    EXPECT_GT(faded.midtones[0], full.midtones[0]);
    EXPECT_LT(faded.midtones[0], 0.5f);
    EXPECT_NEAR(cv::applyCurve(cv::toneCurve(faded, 0), 0.3f), 0.34f, 0.02f);
}

// A bright sky on a pedestal is still linear when its median sits near the
// bottom of the data's own range; a spared image that fills little of the
// range is spread over the display between its percentile points.
TEST(ComputeStretch, SparesByWhereTheMedianSitsAndSpreadsNarrowData) {
    cv::StretchOptions unspared;
    unspared.stretchStrength = 0.0f;
    const auto pedestal = monoStatistics(0.1f, 0.01f, 0.07f, 0.47f);
    EXPECT_EQ(cv::computeStretch(pedestal, cv::StretchOptions{}).midtones[0],
              cv::computeStretch(pedestal, unspared).midtones[0]);

    const auto dim =
        cv::computeStretch(monoStatistics(0.145f, 0.059f, 0.072f, 0.314f), cv::StretchOptions{});
    EXPECT_EQ(std::make_tuple(dim.shadows[0], dim.midtones[0], dim.highlights[0]),
              std::make_tuple(0.072f, 0.5f, 0.314f));
}

TEST(ComputeStretch, CalibrationFramesWithoutSparingGetTheFullStretch) {
    cv::StretchOptions options;
    options.stretchStrength = 0.0f;
    const auto stretch = cv::computeStretch(monoStatistics(0.25f, 0.02f), options);
    EXPECT_LT(stretch.midtones[0], 0.4f);
    EXPECT_GT(stretch.shadows[0], 0.1f);
}

TEST(ComputeStretch, InvertedImagesClipTheHighlights) {
    cv::StretchOptions options;
    options.stretchStrength = 0.0f;
    const auto stretch = cv::computeStretch(monoStatistics(0.9f, 0.01f), options);
    EXPECT_EQ(stretch.shadows[0], 0.0f);
    EXPECT_NEAR(stretch.highlights[0], 0.928f, 1e-5);
    EXPECT_GT(stretch.midtones[0], 0.5f);
}

TEST(ComputeStretch, FallsBackToIdentity) {
    cv::StretchOptions off;
    off.autoStretch = false;
    EXPECT_TRUE(cv::computeStretch(monoStatistics(0.01f, 0.002f), off).identity);
    EXPECT_TRUE(cv::computeStretch(monoStatistics(0.01f, 0.0f), cv::StretchOptions{}).identity)
        << "no noise";
    EXPECT_TRUE(cv::computeStretch(cv::ChannelStatistics{}, cv::StretchOptions{}).identity)
        << "no statistics";
}

TEST(ComputeStretch, UnlinkedChannelsGetTheirOwnCurves) {
    cv::ChannelStatistics statistics = monoStatistics(0.01f, 0.002f);
    statistics.channels = 3;
    statistics.channelValid[1] = true;
    statistics.median[1] = 0.02f;
    statistics.sigma[1] = 0.002f;
    cv::StretchOptions options;
    options.linkedChannels = false;
    const auto stretch = cv::computeStretch(statistics, options);
    EXPECT_NE(stretch.shadows[0], stretch.shadows[1]);
    EXPECT_EQ(stretch.midtones[2], 0.5f) << "a channel without statistics keeps the neutral curve";
    EXPECT_EQ(stretch.shadows[2], 0.0f);
}

TEST(ToneCurve, IdentityMapsHalfToByte128) {
    cv::StretchParameters identity;
    identity.identity = true;
    const auto curve = cv::toneCurve(identity, 0);
    EXPECT_EQ(cv::displayByte(cv::applyCurve(curve, 0.5f)), 128);
    EXPECT_EQ(cv::applyCurve(curve, -1.0f), 0.0f);
    EXPECT_EQ(cv::applyCurve(curve, 2.0f), 1.0f);
    EXPECT_EQ(cv::applyCurve(curve, std::nanf("")), 0.0f);
}

// A 16-bit sky at 1 % of the range: one unit of the data never moves the
// picture by more than one grey level, so smooth skies draw without bands.
TEST(ToneCurve, FollowsTheStretchCurveOneDataUnitAtATime) {
    const auto stretch = cv::computeStretch(monoStatistics(0.01f, 0.002f), cv::StretchOptions{});
    const auto curve = cv::toneCurve(stretch, 0);
    EXPECT_EQ(cv::applyCurve(curve, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(cv::applyCurve(curve, 1.0f), 1.0f);
    EXPECT_NEAR(cv::applyCurve(curve, 0.01f), 0.25f, 2e-3f);
    int previous = 0;
    int largestStep = 0;
    for (int unit = 0; unit <= 65535; ++unit) {
        const int level =
            cv::displayByte(cv::applyCurve(curve, static_cast<float>(unit) / 65535.0f));
        ASSERT_GE(level, previous) << "unit " << unit;
        largestStep = std::max(largestStep, level - previous);
        previous = level;
    }
    EXPECT_LE(largestStep, 1);
}

TEST(PeakWeight, GrowsWithTheStrengthOfTheStretch) {
    cv::StretchParameters strong;
    strong.linked = true;
    strong.midtones[0] = 0.0f;
    EXPECT_EQ(cv::peakWeight(strong, 1, 1.0f), 1.0f);
    EXPECT_EQ(cv::peakWeight(strong, 1, 0.0f), 0.0f);
    cv::StretchParameters neutral;
    neutral.linked = true;
    EXPECT_EQ(cv::peakWeight(neutral, 1, 1.0f), 0.0f);
    strong.identity = true;
    EXPECT_EQ(cv::peakWeight(strong, 1, 1.0f), 0.0f);
}

}  // namespace
