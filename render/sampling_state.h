#pragma once

#include <cstddef>
#include <cstdint>

#include "render/box_accumulator.h"
#include "render/budget_clock.h"
#include "render/output_geometry.h"
#include "render/render_image.h"
#include "render/row_reader.h"
#include "render/sampling_plan.h"
#include "render/statistics.h"

namespace cv {

constexpr std::uint64_t kMaxFetchBytes = 4 * 1024 * 1024;  // rows asked of a source in one call
constexpr std::uint64_t kMinBytesForSecondThread =
    1024 * 1024;  // of the rows left; fewer: a second thread costs more than it saves

// What the passes over one block share once the render has laid it out:
// the plan, the rows and how they become values, where the values are added,
// the lane of the render's own thread, and the progress so far.
struct SamplingState {
    SamplingState(const RenderOptions& renderOptions, const RenderBudget& renderBudget,
                  const BudgetClock& budgetClock, RowLane& mainLane, const RowReader& rowReader,
                  const SamplingPlan& samplingPlan)
        : options(renderOptions),
          budget(renderBudget),
          clock(budgetClock),
          main(mainLane),
          reader(rowReader),
          plan(samplingPlan) {}

    const RenderOptions& options;
    const RenderBudget& budget;
    const BudgetClock& clock;
    RowLane& main;
    const RowReader& reader;
    SamplingPlan plan;
    OutputSize out{0, 0};
    std::uint64_t cells = 0;      // working rows
    std::uint64_t rowBytes = 0;   // of a file row
    std::uint32_t planes = 1;     // read for each working row
    std::size_t rowsPerCall = 1;  // file rows the main lane fetches at once
    std::size_t bandSlots =
        0;  // a band's rows but its middle one, every plane, when they fit one fetch
    BoxAccumulator accumulator;
    StatisticsSampler sampler;

    std::uint64_t setupMs = 0;
    std::uint64_t rowsDone = 0;  // output rows the first pass visited
    std::uint64_t largestSkip = 0;
    bool exhausted = false;
    bool readsStopped = false;  // the time ran out with rows still to read

    std::uint64_t samplingMs() const;
    SamplingProgress progress() const;
    // How far the first pass moves on, noting the largest skip.
    std::uint64_t stepAfter(std::uint64_t outputRow);
    bool mayStartPass(std::uint64_t pass) const;
    // Gives the main lane a spare source with as many slots as its own, to
    // fetch ahead into, where the reader reads ahead and the `bytes` left to
    // read are worth it; without one (no memory, or a reader that does not)
    // each fetch is read when it comes.
    void prepareSpare(std::uint64_t bytes);
    // Adds cell `cell` of `plane`, fetched into `slot` of `lane`, to output
    // row `outputRow`, offering its values to `offer` (channel, values, count).
    template <typename Offer>
    ReadStatus addCell(RowLane& lane, std::uint32_t plane, std::uint64_t cell, std::size_t slot,
                       std::uint32_t outputRow, Offer&& offer) {
        return reader.add(lane, plane, cell, slot,
                          [&](std::uint32_t channel, const float* values, std::size_t count) {
                              accumulateRow(accumulator, channel, outputRow, values);
                              offer(channel, values, count);
                          });
    }
};

}  // namespace cv
