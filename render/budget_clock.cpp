#include "render/budget_clock.h"

namespace cv {

std::uint64_t elapsedMs(const RenderBudget& budget) {
    const std::int64_t elapsed = budget.clock() - budget.startTime;
    return elapsed > 0 ? static_cast<std::uint64_t>(elapsed) / 1000000 : 0;
}

bool BudgetClock::exhausted() const {
    if (budget_.byteLimit != 0 && bytesRead_ >= budget_.byteLimit) return true;
    return timeUp();
}

bool BudgetClock::cancelled() const {
    return budget_.cancelFlag != nullptr && budget_.cancelFlag->load(std::memory_order_relaxed);
}

}  // namespace cv
