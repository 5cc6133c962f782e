#include "render/statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

namespace {

TEST(StatisticsSampler, ThinsEvenlyAndDoublesItsStride) {
    cv::StatisticsSampler sampler;
    cv::prepareSampler(sampler, 1);
    std::vector<float> row(100000);
    for (std::size_t i = 0; i < row.size(); ++i) row[i] = static_cast<float>(i);
    cv::offerRow(sampler, 0, row.data(), row.size());
    EXPECT_LT(sampler.samples[0].size(), 32768u);
    EXPECT_EQ(sampler.stride[0], 4u) << "two halvings";
    EXPECT_EQ(sampler.offered[0], 100000u);
    // What is kept is spread over the whole row, not bunched at its start.
    EXPECT_GT(sampler.samples[0].back(), 90000.0f);
}

TEST(StatisticsSampler, IgnoresBadOffers) {
    cv::StatisticsSampler sampler;
    cv::prepareSampler(sampler, 9);
    EXPECT_EQ(sampler.channels, 4u) << "capped at four channels";
    const float value = 1.0f;
    cv::offerRow(sampler, 4, &value, 1);
    cv::offerRow(sampler, 0, nullptr, 1);
    cv::offerRow(sampler, 0, &value, 0);
    EXPECT_FALSE(cv::hasSamples(sampler));
    cv::offerRow(sampler, 3, &value, 1);
    EXPECT_TRUE(cv::hasSamples(sampler));
}

// Rows offered through a schedule, in reverse, keep exactly the values
// offerRow keeps in order, in its order: across thinnings of samples held
// before, strides that double in the middle of a row, and one-value rows.
// Rows never offered leave no samples behind.
TEST(SampleSchedule, KeepsWhatOfferingInOrderKeeps) {
    struct Case {
        std::size_t width;
        std::size_t rowsBefore;
        std::size_t rowsPlanned;
    };
    for (const Case& c : {Case{6000, 0, 40}, Case{6000, 7, 300}, Case{7, 3, 20000},
                          Case{40000, 2, 9}, Case{1, 50000, 3}, Case{1, 0, 0}}) {
        auto rowOf = [&](std::size_t r) {
            std::vector<float> row(c.width);
            for (std::size_t i = 0; i < row.size(); ++i)
                row[i] = static_cast<float>(r * c.width + i);
            return row;
        };
        cv::StatisticsSampler inOrder;
        cv::StatisticsSampler scheduled;
        cv::prepareSampler(inOrder, 1);
        cv::prepareSampler(scheduled, 1);
        for (std::size_t r = 0; r < c.rowsBefore; ++r) {
            for (auto* sampler : {&inOrder, &scheduled})
                cv::offerRow(*sampler, 0, rowOf(r).data(), c.width);
        }
        for (std::size_t r = 0; r < c.rowsPlanned; ++r) {
            cv::offerRow(inOrder, 0, rowOf(c.rowsBefore + r).data(), c.width);
        }
        cv::SampleSchedule schedule;
        ASSERT_TRUE(schedule.plan(scheduled, c.rowsPlanned, c.width));
        cv::StatisticsSampler partly = scheduled;
        std::vector<std::uint8_t> all(c.rowsPlanned, 1);
        std::vector<std::uint8_t> odd(c.rowsPlanned, 0);
        for (std::size_t r = 1; r < c.rowsPlanned; r += 2) odd[r] = 1;
        for (auto [sampler, offered] : {std::pair{&scheduled, &all}, std::pair{&partly, &odd}}) {
            schedule.begin(*sampler, 0);
            for (std::size_t r = c.rowsPlanned; r-- > 0;) {
                if ((*offered)[r] != 0)
                    schedule.offer(*sampler, 0, r, rowOf(c.rowsBefore + r).data());
            }
            schedule.end(*sampler, 0, *offered);
        }
        const std::string label = std::to_string(c.width) + " wide, " +
                                  std::to_string(c.rowsBefore) + " + " +
                                  std::to_string(c.rowsPlanned) + " rows";
        EXPECT_EQ(scheduled.samples[0], inOrder.samples[0]) << label;
        EXPECT_EQ(scheduled.stride[0], inOrder.stride[0]) << label;
        EXPECT_EQ(scheduled.offered[0], inOrder.offered[0]) << label;
        std::vector<float> fromOddRows;
        std::copy_if(inOrder.samples[0].begin(), inOrder.samples[0].end(),
                     std::back_inserter(fromOddRows), [&](float v) {
                         const auto row = static_cast<std::size_t>(v) / c.width;
                         return row < c.rowsBefore || (row - c.rowsBefore) % 2 == 1;
                     });
        EXPECT_EQ(partly.samples[0], fromOddRows) << label;
        EXPECT_EQ(partly.offered[0], (c.rowsBefore + c.rowsPlanned / 2) * c.width) << label;
    }
}

// Independent figures: the upper median and the MAD as the value at m / 2 of
// the sorted values and deviations.
float upperMedianOf(std::vector<float> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

TEST(ComputeStatistics, MatchesAStraightforwardComputation) {
    std::vector<float> values;
    for (int i = 0; i < 1000; ++i)
        values.push_back(0.01f + 0.0001f * static_cast<float>((i * 37) % 101));
    cv::StatisticsSampler sampler;
    cv::prepareSampler(sampler, 1);
    cv::offerRow(sampler, 0, values.data(), values.size());
    const auto statistics = cv::computeStatistics(sampler);
    ASSERT_TRUE(statistics.valid);
    EXPECT_EQ(statistics.low, 0.0f);
    EXPECT_EQ(statistics.high, 1.0f);
    const float median = upperMedianOf(values);
    std::vector<float> deviations;
    for (float v : values) deviations.push_back(std::fabs(v - median));
    const float mad = upperMedianOf(deviations);
    EXPECT_FLOAT_EQ(statistics.median[0], median);
    EXPECT_FLOAT_EQ(statistics.mad[0], mad);
    EXPECT_FLOAT_EQ(statistics.sigma[0], mad * 1.4826f);
}

TEST(ComputeStatistics, RawDataUsesThePercentileRange) {
    // ADU-like values: 0.1 % and 99.9 % points of all channels together.
    std::vector<float> values;
    for (int i = 0; i < 10000; ++i) values.push_back(static_cast<float>(i));
    cv::StatisticsSampler sampler;
    cv::prepareSampler(sampler, 1);
    cv::offerRow(sampler, 0, values.data(), values.size());
    const auto statistics = cv::computeStatistics(sampler);
    EXPECT_EQ(statistics.low, 9.0f);      // index floor(9999 * 0.001) = 9
    EXPECT_EQ(statistics.high, 9989.0f);  // index floor(9999 * 0.999) = 9989
    EXPECT_NEAR(statistics.median[0], (5000.0f - 9.0f) / (9989.0f - 9.0f), 1e-6);
}

TEST(ComputeStatistics, ConstantRawDataFallsBackToMinimumAndMaximum) {
    std::vector<float> values(100, 5.0f);
    values.push_back(6.0f);
    cv::StatisticsSampler sampler;
    cv::prepareSampler(sampler, 1);
    cv::offerRow(sampler, 0, values.data(), values.size());
    const auto statistics = cv::computeStatistics(sampler);
    EXPECT_EQ(statistics.low, 5.0f);
    EXPECT_EQ(statistics.high, 6.0f);
}

TEST(ComputeStatistics, NoSamplesIsNotValid) {
    cv::StatisticsSampler sampler;
    cv::prepareSampler(sampler, 3);
    const auto statistics = cv::computeStatistics(sampler);
    EXPECT_FALSE(statistics.valid);
    EXPECT_EQ(statistics.channels, 3u);
    EXPECT_EQ(statistics.high, 1.0f);
}

}  // namespace
