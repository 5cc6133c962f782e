#include "shell/format_label_win.h"

#include <gtest/gtest.h>

namespace {

cv::RgbImage grey(std::uint32_t width, std::uint32_t height) {
    cv::RgbImage image;
    EXPECT_TRUE(cv::resizeRgbImage(image, width, height));
    std::fill(image.pixels.begin(), image.pixels.end(), 10);
    return image;
}

bool isBadge(const cv::RgbImage& image, std::uint32_t x, std::uint32_t y) {
    return image.row(y)[x * 3] != 10;
}

TEST(FormatLabel, SitsElevenPixelsInFromTheChosenCorner) {
    cv::RgbImage image = grey(256, 171);  // badge height 40, margin 11
    ASSERT_TRUE(cvwin::drawFormatLabel(image, cv::FileKind::Fits, cv::LabelCorner::BottomRight));
    EXPECT_FALSE(isBadge(image, 255 - 11, 171 - 11)) << "the margin stays clear";
    EXPECT_TRUE(isBadge(image, 255 - 11 - 20, 171 - 11 - 20));
    std::uint32_t top = 171, bottom = 0, left = 256;
    for (std::uint32_t y = 0; y < 171; ++y) {
        for (std::uint32_t x = 0; x < 256; ++x) {
            if (!isBadge(image, x, y)) continue;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
            left = std::min(left, x);
        }
    }
    EXPECT_EQ(bottom, 171u - 11 - 1);
    EXPECT_EQ(top, 171u - 11 - 40);
    const std::uint32_t width = 256 - 11 - left;
    EXPECT_GT(width, 40u) << "text plus padding";
    EXPECT_LT(width, static_cast<std::uint32_t>(256 * 0.55));
    // Badge colour in a chamfer-free spot near the edge, white ink somewhere inside.
    const std::uint8_t* edge = image.row(171 - 11 - 20) + (256 - 11 - 2) * 3;
    EXPECT_EQ(edge[0], 133);
    EXPECT_EQ(edge[1], 84);
    EXPECT_EQ(edge[2], 49);
    bool ink = false;
    for (std::uint32_t y = top; y <= bottom; ++y) {
        for (std::uint32_t x = left; x < 256 - 11; ++x) ink = ink || image.row(y)[x * 3] > 200;
    }
    EXPECT_TRUE(ink);
    EXPECT_FALSE(isBadge(image, 256 - 11 - 1, top)) << "the top-right corner is chamfered";
}

TEST(FormatLabel, LeavesSmallFlatOrUnknownPicturesAlone) {
    cv::RgbImage small = grey(64, 64);
    EXPECT_FALSE(cvwin::drawFormatLabel(small, cv::FileKind::Xisf, cv::LabelCorner::TopLeft))
        << "badge height 10 is below 13";
    cv::RgbImage flat = grey(256, 60);
    EXPECT_FALSE(cvwin::drawFormatLabel(flat, cv::FileKind::Xisf, cv::LabelCorner::TopLeft))
        << "40 exceeds 60 x 0.4";
    cv::RgbImage normal = grey(256, 171);
    EXPECT_FALSE(cvwin::drawFormatLabel(normal, cv::FileKind::Unknown, cv::LabelCorner::TopLeft));
    for (std::uint8_t byte : normal.pixels) ASSERT_EQ(byte, 10);
}

}  // namespace
