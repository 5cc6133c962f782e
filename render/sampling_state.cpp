#include "render/sampling_state.h"

#include <algorithm>
#include <new>

namespace cv {

std::uint64_t SamplingState::samplingMs() const {
    const std::uint64_t elapsed = clock.elapsedMs();
    return elapsed > setupMs ? elapsed - setupMs : 0;
}

SamplingProgress SamplingState::progress() const {
    SamplingProgress progress;
    progress.samplingMs = samplingMs();
    progress.rowsDone = rowsDone;
    progress.byteLimited = budget.byteLimit != 0;
    progress.bytesLeft = main.bytesRead < budget.byteLimit ? budget.byteLimit - main.bytesRead : 0;
    return progress;
}

std::uint64_t SamplingState::stepAfter(std::uint64_t outputRow) {
    const std::uint64_t step = plan.stepAfter(outputRow, progress());
    largestSkip = std::max(largestSkip, step - 1);
    return step;
}

bool SamplingState::mayStartPass(std::uint64_t pass) const {
    return !exhausted && !clock.exhausted() &&
           plan.mayStartPass(pass, options.maxPasses, progress());
}

void SamplingState::prepareSpare(std::uint64_t bytes) {
    if (main.spare || main.source->resident() || bytes < kMinBytesForSecondThread) return;
    try {
        main.spare = main.source->sibling(std::max(rowsPerCall, bandSlots));
    } catch (const std::bad_alloc&) {
        main.spare.reset();
    }
}

}  // namespace cv
