#include "core/render_settings.h"

#include <gtest/gtest.h>

#include "render/render_profiles.h"

namespace {

TEST(RenderSettings, DefaultsAreWhatANewUserGets) {
    const cv::RenderSettings settings;
    EXPECT_TRUE(settings.autoStretch);
    EXPECT_FALSE(settings.labelFormat);
    EXPECT_EQ(settings.labelCorner, 3u);
    EXPECT_EQ(settings.brightness, 1u);
    EXPECT_EQ(settings.cfaMode, 0u);
    EXPECT_TRUE(settings.previewDarkBackground);
    EXPECT_TRUE(settings.previewSidebar);
}

TEST(RenderSettings, OutOfRangeValuesFallBack) {
    EXPECT_EQ(cv::clampLabelCorner(7), 3u);
    EXPECT_EQ(cv::clampLabelCorner(2), 2u);
    EXPECT_EQ(cv::clampBrightness(5), 1u);
    EXPECT_EQ(cv::clampBrightness(0), 0u);
    EXPECT_EQ(cv::clampCfaMode(4), 0u);
    EXPECT_EQ(cv::clampCfaMode(2), 2u);
}

TEST(RenderSettings, BrightnessSelectsTheTargetBackground) {
    EXPECT_EQ(cv::targetBackgroundFor(0), 0.15f);
    EXPECT_EQ(cv::targetBackgroundFor(1), 0.25f);
    EXPECT_EQ(cv::targetBackgroundFor(2), 0.35f);
    EXPECT_EQ(cv::targetBackgroundFor(9), 0.25f);
}

TEST(RenderProfiles, ThumbnailAndPreviewUseTheirOwnBudgets) {
    cv::RenderSettings settings;
    settings.brightness = 2;
    settings.cfaMode = 7;
    const auto thumbnail = cv::thumbnailOptions(0, settings);
    EXPECT_EQ(thumbnail.maxSize, 256u);
    EXPECT_EQ(thumbnail.targetBackground, 0.35f);
    EXPECT_EQ(thumbnail.cfaMode, 0u) << "a stored 7 reads as automatic";
    EXPECT_TRUE(thumbnail.smoothPartial);
    EXPECT_EQ(thumbnail.maxPasses, 0u);
    EXPECT_EQ(thumbnail.workingMemory, 0x3000000u);
    EXPECT_EQ(thumbnail.maxBlockBytes, 0x18000000u);
    const auto budget = cv::thumbnailBudget();
    EXPECT_EQ(budget.timeLimitMs, 4000u);
    EXPECT_EQ(budget.byteLimit, 0x8000000u);

    const auto quick = cv::previewOptions(true, settings);
    EXPECT_EQ(quick.maxSize, 1400u);
    EXPECT_TRUE(quick.preferEmbeddedThumbnail);
    EXPECT_FALSE(quick.smoothPartial);
    EXPECT_EQ(quick.maxPasses, 3u);
    EXPECT_EQ(cv::previewBudget(true, nullptr).timeLimitMs, 1500u);
    const auto full = cv::previewBudget(false, nullptr);
    EXPECT_EQ(full.timeLimitMs, 15000u);
    EXPECT_EQ(full.byteLimit, 0x30000000u);
}

}  // namespace
