#pragma once

#include <cstdint>
#include <limits>

namespace cv {

// A perBand that takes every row of a band.
constexpr std::uint64_t kWholeBand = std::numeric_limits<std::uint64_t>::max();

// The working rows [first, first + size) that one output row covers, of which
// `taken` are sampled over all passes.
struct Band {
    std::uint64_t first;
    std::uint64_t size;
    std::uint64_t taken;
};

// The band of `total` rows that output row r of `outputs` covers.
Band bandOf(std::uint64_t r, std::uint64_t outputs, std::uint64_t total, std::uint64_t perBand);

// The row of a band read in a pass: the middle first, later passes spreading outward.
std::uint64_t rowInPass(const Band& band, std::uint64_t pass);

// What the next decision depends on, measured by the renderer.
struct SamplingProgress {
    std::uint64_t samplingMs = 0;  // since sampling started
    std::uint64_t rowsDone = 0;    // output rows visited in the first pass
    bool byteLimited = false;      // the budget counts bytes
    std::uint64_t bytesLeft = 0;   // of that budget
};

// Which working rows a render reads and when: how many per band, how far the
// first pass steps to cover the picture within the time and byte budgets,
// and whether another pass may start. It reads no clock: the renderer
// measures, the plan decides.
class SamplingPlan {
public:
    // `totalBytes` of every row of every plane read; above `planningBytes`,
    // fewer rows per band are sampled, each costing `bytesPerWorkingRow`.
    SamplingPlan(std::uint64_t workingRows, std::uint64_t outputRows, std::uint64_t totalBytes,
                 std::uint64_t planningBytes, std::uint64_t bytesPerWorkingRow,
                 std::uint64_t bytesPerOutputRow);

    // The sampling time of a budget of `timeLimitMs` after `setupMs` spent before sampling.
    void startSampling(std::uint64_t timeLimitMs, std::uint64_t setupMs);

    std::uint64_t perBand() const { return perBand_; }
    bool subsampled() const { return perBand_ * outputRows_ < workingRows_; }
    Band band(std::uint64_t outputRow) const {
        return bandOf(outputRow, outputRows_, workingRows_, perBand_);
    }

    // How far the first pass moves on after output row `outputRow`.
    std::uint64_t stepAfter(std::uint64_t outputRow, const SamplingProgress& progress) const;
    // Whether pass `pass` (1 or later) is predicted to fit what is left.
    bool mayStartPass(std::uint64_t pass, std::uint32_t maxPasses,
                      const SamplingProgress& progress) const;
    // Whether every pass from `pass` to the last is predicted to fit the bytes
    // left and half the time left.
    bool mayFinishFrom(std::uint64_t pass, std::uint32_t maxPasses,
                       const SamplingProgress& progress) const;

private:
    bool passesFit(std::uint64_t passes, std::uint64_t share,
                   const SamplingProgress& progress) const;

    std::uint64_t workingRows_;
    std::uint64_t outputRows_;
    std::uint64_t perBand_;
    std::uint64_t bytesPerOutputRow_;
    std::uint64_t allowanceMs_ = 0;
};

}  // namespace cv
