#include "render/stretch.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

cv::ChannelStatistics monoStatistics(float median, float sigma) {
    cv::ChannelStatistics statistics;
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
    const auto full = cv::computeStretch(monoStatistics(0.1f, 0.01f), unspared);
    const auto faded = cv::computeStretch(monoStatistics(0.1f, 0.01f), cv::StretchOptions{});
    EXPECT_EQ(faded.highlights[0], 1.0f);
    EXPECT_GT(faded.shadows[0], 0.0f);
    EXPECT_LT(faded.shadows[0], full.shadows[0]);
    EXPECT_GT(faded.midtones[0], full.midtones[0]);
    EXPECT_LT(faded.midtones[0], 0.5f);
    EXPECT_NEAR(cv::lookup(cv::buildLookupTable(faded, 0), 0.3f), 0.34f, 0.02f);
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
    EXPECT_TRUE(cv::computeStretch(monoStatistics(0.01f, 0.0f), cv::StretchOptions{}).identity) << "no noise";
    EXPECT_TRUE(cv::computeStretch(cv::ChannelStatistics{}, cv::StretchOptions{}).identity) << "no statistics";
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

TEST(LookupTable, IdentityMapsHalfToByte128) {
    cv::StretchParameters identity;
    identity.identity = true;
    const auto table = cv::buildLookupTable(identity, 0);
    const float value = cv::lookup(table, 0.5f);
    EXPECT_EQ(static_cast<int>(value * 255.0f + 0.5f), 128);
    EXPECT_EQ(cv::lookup(table, -1.0f), 0.0f);
    EXPECT_EQ(cv::lookup(table, 2.0f), 1.0f);
    EXPECT_EQ(cv::lookup(table, std::nanf("")), 0.0f);
}

TEST(LookupTable, FollowsTheStretchCurve) {
    const auto stretch = cv::computeStretch(monoStatistics(0.01f, 0.002f), cv::StretchOptions{});
    const auto table = cv::buildLookupTable(stretch, 0);
    EXPECT_EQ(table.entries[0], 0.0f);
    EXPECT_EQ(table.entries[4095], 1.0f);
    // The median lands near the target background, within one table step.
    EXPECT_NEAR(cv::lookup(table, 0.01f), 0.25f, 0.03f);
    for (std::size_t i = 1; i < table.entries.size(); ++i) ASSERT_GE(table.entries[i], table.entries[i - 1]);
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
