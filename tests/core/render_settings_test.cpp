#include "core/render_settings.h"

#include <gtest/gtest.h>

#include "render/render_profiles.h"

namespace {

TEST(RenderSettings, DefaultsAreWhatANewUserGets) {
    const cv::RenderSettings settings;
    EXPECT_TRUE(settings.autoStretch);
    EXPECT_FALSE(settings.labelFormat);
    EXPECT_EQ(settings.labelCorner, cv::LabelCorner::BottomRight);
    EXPECT_EQ(settings.brightness, cv::Brightness::Standard);
    EXPECT_EQ(settings.cfaMode, cv::CfaMode::Automatic);
    EXPECT_TRUE(settings.previewDarkBackground);
    EXPECT_TRUE(settings.previewSidebar);
}

TEST(RenderSettings, OutOfRangeValuesFallBack) {
    EXPECT_EQ(cv::storedLabelCorner(7), cv::LabelCorner::BottomRight);
    EXPECT_EQ(cv::storedLabelCorner(2), cv::LabelCorner::BottomLeft);
    EXPECT_EQ(cv::storedBrightness(5), cv::Brightness::Standard);
    EXPECT_EQ(cv::storedBrightness(0), cv::Brightness::Darker);
    EXPECT_EQ(cv::storedCfaMode(4), cv::CfaMode::Automatic);
    EXPECT_EQ(cv::storedCfaMode(2), cv::CfaMode::AlwaysMono);
}

TEST(RenderSettings, BrightnessSelectsTheTargetBackground) {
    EXPECT_EQ(cv::targetBackgroundFor(cv::Brightness::Darker), 0.15f);
    EXPECT_EQ(cv::targetBackgroundFor(cv::Brightness::Standard), 0.25f);
    EXPECT_EQ(cv::targetBackgroundFor(cv::Brightness::Brighter), 0.35f);
}

TEST(RenderProfiles, ThumbnailAndPreviewUseTheirOwnBudgets) {
    cv::RenderSettings settings;
    settings.brightness = cv::Brightness::Brighter;
    const auto thumbnail = cv::thumbnailOptions(0, settings);
    EXPECT_EQ(thumbnail.maxSize, 256u);
    EXPECT_EQ(thumbnail.stretch.targetBackground, 0.35f);
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
