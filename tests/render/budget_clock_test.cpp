#include "render/budget_clock.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

constexpr std::int64_t kNsPerMs = 1000000;

TEST(BudgetClock, AnswersFromTheBudgetAsItStandsNow) {
    cv::RenderBudget budget;
    budget.timeLimitMs = 2000;
    budget.startTime = cv::steadyNowNs() - 3000 * kNsPerMs;  // started three seconds ago
    std::uint64_t bytesRead = 0;
    const cv::BudgetClock clock(budget, bytesRead);
    EXPECT_GE(clock.elapsedMs(), 3000u);
    EXPECT_TRUE(clock.timeUp());
    EXPECT_FALSE(clock.pastHardLimit()) << "the hard limit is twice the time limit";
    budget.timeLimitMs = 1000;
    EXPECT_TRUE(clock.pastHardLimit());

    budget.timeLimitMs = 600000;
    budget.byteLimit = 100;
    EXPECT_FALSE(clock.exhausted());
    bytesRead = 100;
    EXPECT_TRUE(clock.exhausted());
    budget.byteLimit = 0;
    EXPECT_FALSE(clock.exhausted()) << "no byte limit";

    std::atomic<bool> stop{false};
    budget.cancelFlag = &stop;
    EXPECT_FALSE(clock.cancelled());
    stop = true;
    EXPECT_TRUE(clock.cancelled());
}

}  // namespace
