#pragma once

#include <cstdint>

#include "render/render_image.h"

namespace cv {

// Milliseconds since the budget started, by its own clock.
std::uint64_t elapsedMs(const RenderBudget& budget);

// What a render's budget allows from here: its time and the bytes counted
// in `bytesRead` so far, read afresh on every question, and whether the
// caller asked to stop.
class BudgetClock {
public:
    BudgetClock(const RenderBudget& budget, const std::uint64_t& bytesRead)
        : budget_(budget), bytesRead_(bytesRead) {}
    BudgetClock(const RenderBudget& budget,
                const std::uint64_t&& bytesRead) = delete;  // it would dangle

    std::uint64_t elapsedMs() const { return cv::elapsedMs(budget_); }
    bool timeUp() const { return elapsedMs() >= budget_.timeLimitMs; }
    // So far past the time limit that no picture is worth waiting for.
    bool pastHardLimit() const { return elapsedMs() > kHardLimitFactor * budget_.timeLimitMs; }
    // The byte limit (when there is one) or the time limit is reached.
    bool exhausted() const;
    bool cancelled() const;

private:
    static constexpr std::uint64_t kHardLimitFactor =
        2;  // times the time limit: past it, work stops

    const RenderBudget& budget_;
    const std::uint64_t& bytesRead_;
};

}  // namespace cv
