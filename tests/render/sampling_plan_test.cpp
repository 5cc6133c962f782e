#include "render/sampling_plan.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr std::uint64_t kUnlimited = ~0ull;

cv::SamplingProgress progressOf(std::uint64_t samplingMs, std::uint64_t rowsDone,
                                std::uint64_t bytesLeft = kUnlimited) {
    return {samplingMs, rowsDone, bytesLeft != kUnlimited, bytesLeft};
}

TEST(SamplingPlan, BandsTileTheRowsAndEachPassTakesNewRowsMiddleFirst) {
    const cv::SamplingPlan plan(1000, 300, 1000, kUnlimited, 1, 1);
    ASSERT_EQ(plan.perBand(), 4u);
    EXPECT_FALSE(plan.subsampled());
    std::uint64_t next = 0;
    std::set<std::uint64_t> taken;
    for (std::uint64_t r = 0; r < 300; ++r) {
        const cv::Band band = plan.band(r);
        ASSERT_EQ(band.first, next) << "row " << r;
        next = band.first + band.size;
        EXPECT_EQ(cv::rowInPass(band, 0), band.first + band.taken / 2 * (band.size / band.taken));
        for (std::uint64_t pass = 0; pass < band.taken; ++pass)
            EXPECT_TRUE(taken.insert(cv::rowInPass(band, pass)).second);
    }
    EXPECT_EQ(next, 1000u);
}

TEST(SamplingPlan, SamplesFewerRowsPerBandWhenTheImageExceedsThePlanningBudget) {
    // 4000 rows of 12,000 bytes (48 MB) into 171 output rows.
    const cv::SamplingPlan plenty(4000, 171, 4000ull * 12000, 1 << 27, 12000, 12000);
    EXPECT_EQ(plenty.perBand(), 24u) << "every row of every band";
    EXPECT_FALSE(plenty.subsampled());
    const cv::SamplingPlan tight(4000, 171, 4000ull * 12000, 1 << 24, 12000, 12000);
    EXPECT_EQ(tight.perBand(), 8u);  // 16 MiB / 12,000 / 171
    EXPECT_TRUE(tight.subsampled());
    EXPECT_EQ(cv::SamplingPlan(4000, 171, 4000ull * 12000, 1 << 20, 12000, 12000).perBand(), 1u)
        << "at least one";
}

TEST(SamplingPlan, TheFirstPassStepsFurtherAsTimeOrBytesRunShort) {
    cv::SamplingPlan plan(4000, 200, 4000, kUnlimited, 1000, 1000);
    plan.startSampling(4000, 0);  // 3,400 ms to sample
    EXPECT_EQ(plan.stepAfter(10, progressOf(3000, 7)), 1u) << "too few rows to judge yet";
    EXPECT_EQ(plan.stepAfter(10, progressOf(10, 10)), 1u) << "on course for every row";
    EXPECT_EQ(plan.stepAfter(10, progressOf(1700, 10)), 19u) << "time for 10 of the 190 rows left";
    EXPECT_EQ(plan.stepAfter(10, progressOf(10, 10, 20 * 1000)), 10u) << "bytes for 20 more rows";
    EXPECT_EQ(plan.stepAfter(10, progressOf(3400, 10)), 23u)
        << "out of time: an eighth of what is left";
    EXPECT_EQ(plan.stepAfter(199, progressOf(3400, 10)), 1u) << "the last row";
}

TEST(SamplingPlan, AnotherPassStartsOnlyWhenItIsPredictedToFit) {
    cv::SamplingPlan plan(4000, 200, 4000, kUnlimited, 1000, 1000);
    plan.startSampling(4000, 0);
    EXPECT_TRUE(plan.mayStartPass(1, 0, progressOf(100, 200)));
    EXPECT_FALSE(plan.mayStartPass(3, 3, progressOf(100, 200))) << "the pass limit";
    EXPECT_FALSE(plan.mayStartPass(1, 0, progressOf(2000, 200)))
        << "2,000 ms more would not fit in 1,400";
    EXPECT_FALSE(plan.mayStartPass(1, 0, progressOf(100, 200, 199 * 1000)))
        << "bytes for 199 of 200 rows";
    EXPECT_TRUE(plan.mayStartPass(1, 0, progressOf(5000, 0))) << "nothing measured yet";
}

TEST(SamplingPlan, EveryPassLeftIsPromisedOnlyWithRoomToSpare) {
    cv::SamplingPlan plan(4000, 200, 4000, kUnlimited, 1000, 1000);  // 20 passes
    plan.startSampling(4000, 0);                                     // 3,400 ms to sample
    EXPECT_TRUE(plan.mayFinishFrom(1, 0, progressOf(50, 200))) << "19 x 50 ms within half of 3,350";
    EXPECT_FALSE(plan.mayFinishFrom(1, 0, progressOf(100, 200)))
        << "19 x 100 ms fit 3,300, not its half";
    EXPECT_TRUE(plan.mayFinishFrom(1, 20, progressOf(50, 200)));
    EXPECT_FALSE(plan.mayFinishFrom(1, 19, progressOf(50, 200))) << "the pass limit ends it sooner";
    EXPECT_TRUE(plan.mayFinishFrom(1, 0, progressOf(50, 200, 19 * 200 * 1000)));
    EXPECT_FALSE(plan.mayFinishFrom(1, 0, progressOf(50, 200, 19 * 200 * 1000 - 1)))
        << "a byte short";
    EXPECT_FALSE(plan.mayFinishFrom(0, 0, progressOf(50, 200))) << "the first pass is not promised";
}

}  // namespace
