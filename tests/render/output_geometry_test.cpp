#include "render/output_geometry.h"

#include <gtest/gtest.h>

#include "render/box_accumulator.h"

namespace {

TEST(FitOutput, KeepsTheShapeWithinTheLongerSide) {
    EXPECT_EQ(cv::fitOutput(6000, 4000, 256).height, 171u);
    EXPECT_EQ(cv::fitOutput(4000, 6000, 256).width, 171u);
    EXPECT_EQ(cv::fitOutput(100, 50, 256).width, 100u) << "never enlarged";
    EXPECT_EQ(cv::fitOutput(100000, 1, 256).height, 1u);
}

// The size fitted is the accumulator's own count of bytes, and close to the limit.
TEST(FitMemory, ShrinksUntilTheAccumulatorFits) {
    for (const std::uint64_t limit : {100000ull, 1000000ull, 8000000ull}) {
        for (const std::uint32_t channels : {1u, 3u}) {
            cv::OutputSize size{1400, 933};
            cv::fitMemory(size, channels, limit);
            EXPECT_LE(*cv::accumulatorBytes(size.width, size.height, channels), limit);
            EXPECT_GT(*cv::accumulatorBytes(size.width + 8, size.height + 8, channels), limit)
                << size.width << " x " << size.height << " leaves room, limit " << limit;
            EXPECT_NEAR(static_cast<double>(size.width) / size.height, 1400.0 / 933.0, 0.05);
        }
    }
}

}  // namespace
