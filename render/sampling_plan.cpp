#include "render/sampling_plan.h"

#include <algorithm>

namespace cv {

namespace {

constexpr std::uint64_t kMinRowsForTiming = 8;         // output rows before steps adapt
constexpr std::uint64_t kSamplingShareOf20 = 17;       // of the time limit, less the setup
constexpr std::uint64_t kMinSamplingShareDivisor = 4;  // at least a quarter of the time limit
// Finishing every pass at once is promised only within half the time left: the
// first pass's pace is a rough guide, and a cut then leaves bands uneven.
constexpr std::uint64_t kFinishMargin = 2;

// a * b / c without overflowing in the product (c > 0, result fits).
std::uint64_t mulDiv(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    if (a == 0 || b <= kWholeBand / a) return a * b / c;
    return a / c * b + (a % c) * b / c;  // a % c < c, and the callers keep (a % c) * b in range
}

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return a / b + (a % b != 0 ? 1 : 0);
}

}  // namespace

Band bandOf(std::uint64_t r, std::uint64_t outputs, std::uint64_t total, std::uint64_t perBand) {
    const std::uint64_t a = mulDiv(r, total, outputs);
    const std::uint64_t b = std::min(std::max(mulDiv(r + 1, total, outputs), a + 1), total);
    const std::uint64_t n = b - a;
    return {a, n, std::min(n, perBand)};
}

std::uint64_t rowInPass(const Band& band, std::uint64_t pass) {
    return band.first + ((band.taken / 2 + pass) % band.taken) * (band.size / band.taken);
}

SamplingPlan::SamplingPlan(std::uint64_t workingRows, std::uint64_t outputRows,
                           std::uint64_t totalBytes, std::uint64_t planningBytes,
                           std::uint64_t bytesPerWorkingRow, std::uint64_t bytesPerOutputRow)
    : workingRows_(workingRows),
      outputRows_(outputRows),
      perBand_(ceilDiv(workingRows, outputRows)),
      bytesPerOutputRow_(bytesPerOutputRow) {
    if (totalBytes > planningBytes) {
        perBand_ = std::max<std::uint64_t>(planningBytes / bytesPerWorkingRow / outputRows, 1);
    }
}

void SamplingPlan::startSampling(std::uint64_t timeLimitMs, std::uint64_t setupMs) {
    const std::uint64_t quarter = timeLimitMs / kMinSamplingShareDivisor;
    const std::uint64_t share = timeLimitMs / 20 * kSamplingShareOf20;
    allowanceMs_ = (share > setupMs && share - setupMs > quarter) ? share - setupMs : quarter;
}

std::uint64_t SamplingPlan::stepAfter(std::uint64_t outputRow,
                                      const SamplingProgress& progress) const {
    const std::uint64_t remaining = outputRows_ - outputRow;
    if (remaining < 2 || progress.rowsDone < kMinRowsForTiming) return 1;
    const std::uint64_t t = progress.samplingMs;
    if (t < allowanceMs_) {
        const std::uint64_t perRow = t * 1000 / progress.rowsDone;
        std::uint64_t canDo = perRow == 0 ? kWholeBand : (allowanceMs_ - t) * 1000 / perRow;
        if (progress.byteLimited && bytesPerOutputRow_ != 0) {
            canDo = std::min(canDo, progress.bytesLeft / bytesPerOutputRow_);
        }
        if (canDo >= remaining) return 1;
        if (canDo > 0) return std::min(remaining - 1, ceilDiv(remaining, canDo));
    }
    return std::min(remaining > 7 ? remaining / 8 : 1, remaining - 1);
}

bool SamplingPlan::mayStartPass(std::uint64_t pass, std::uint32_t maxPasses,
                                const SamplingProgress& progress) const {
    if (maxPasses != 0 && pass >= maxPasses) return false;
    return progress.rowsDone == 0 || passesFit(1, 1, progress);
}

bool SamplingPlan::mayFinishFrom(std::uint64_t pass, std::uint32_t maxPasses,
                                 const SamplingProgress& progress) const {
    if (pass == 0 || pass >= perBand_ || (maxPasses != 0 && maxPasses < perBand_) ||
        progress.rowsDone == 0) {
        return false;
    }
    return passesFit(perBand_ - pass, kFinishMargin, progress);
}

// Whether `passes` more passes at the first pass's pace fit the bytes left
// and the `share`-th part of the time left.
bool SamplingPlan::passesFit(std::uint64_t passes, std::uint64_t share,
                             const SamplingProgress& progress) const {
    const std::uint64_t t = progress.samplingMs;
    if (t >= allowanceMs_) return false;
    if ((t * 1000 / progress.rowsDone) * outputRows_ / 1000 > (allowanceMs_ - t) / share / passes)
        return false;
    return !(progress.byteLimited && bytesPerOutputRow_ != 0 &&
             bytesPerOutputRow_ * outputRows_ > progress.bytesLeft / passes);
}

}  // namespace cv
