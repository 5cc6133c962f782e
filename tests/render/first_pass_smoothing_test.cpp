#include "render/first_pass_smoothing.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// 100 rows of 40 pixels in stripes of 2 rows, black and white.
cv::RgbImage stripes() {
    cv::RgbImage image;
    EXPECT_TRUE(cv::resizeRgbImage(image, 40, 100));
    for (std::uint32_t y = 0; y < image.height; ++y)
        std::fill_n(image.row(y), 120, (y / 2) % 2 ? 255 : 0);
    return image;
}

TEST(SmoothThinFirstPass, SoftensOnlyAThinFirstPassAndKeepsItsTone) {
    for (const std::uint64_t rows : {0u, 23u, 90u, 100u}) {
        cv::RgbImage image = stripes();
        EXPECT_FALSE(cv::smoothThinFirstPass(image, rows)) << rows << " rows visited";
        EXPECT_EQ(image.pixels, stripes().pixels);
    }
    cv::RgbImage image = stripes();
    ASSERT_TRUE(cv::smoothThinFirstPass(image, 25));
    const auto [darkest, brightest] = std::minmax_element(image.pixels.begin(), image.pixels.end());
    EXPECT_GT(*darkest, 64)
        << "no stripe survives: every small row averages a black and a white one";
    EXPECT_LT(*brightest, 192);
}

}  // namespace
