#include "render/statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "core/large_allocator.h"
#include "render/stretch.h"

namespace cv {

namespace {

constexpr double kNormalizedSlack = 0.001;  // data within [-0.001, 1.001] counts as 0..1
constexpr double kLowPercentile = 0.001;
constexpr double kHighPercentile = 0.999;
constexpr float kMadToSigma = 1.4826f;
constexpr float kMinUnitRangeSpan = 1.0f / 4096.0f;  // 16 units of 16-bit data

void thin(std::vector<float>& samples) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < samples.size(); i += 2) samples[kept++] = samples[i];
    samples.resize(kept);
}

// The value at m / 2 after a partial sort: the upper median for even m.
float upperMedian(std::vector<float>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

struct PercentilePoints {
    float low = 0.0f;
    float high = 0.0f;
};

// The low and high percentile points of `values`, which it reorders.
PercentilePoints percentilePointsOf(std::vector<float>& values) {
    const double last = static_cast<double>(values.size() - 1);
    const auto lowPlace = values.begin() + static_cast<std::ptrdiff_t>(last * kLowPercentile);
    const auto highPlace = values.begin() + static_cast<std::ptrdiff_t>(last * kHighPercentile);
    std::nth_element(values.begin(), highPlace, values.end());
    std::nth_element(values.begin(), lowPlace, highPlace);
    return {*lowPlace, *highPlace};
}

// Of every channel's samples together. One channel's are used in place (the
// medians that follow do not depend on their order); several are pooled.
PercentilePoints percentilePoints(StatisticsSampler& sampler) {
    if (sampler.channels == 1) return percentilePointsOf(sampler.samples[0]);
    std::vector<float> all;
    for (std::uint32_t c = 0; c < sampler.channels; ++c) {
        all.insert(all.end(), sampler.samples[c].begin(), sampler.samples[c].end());
    }
    return percentilePointsOf(all);
}

}  // namespace

void prepareSampler(StatisticsSampler& sampler, std::uint32_t channels) {
    sampler.channels = std::min(channels, kMaxStatisticsChannels);
    for (std::uint32_t c = 0; c < kMaxStatisticsChannels; ++c) {
        sampler.samples[c].clear();
        if (c < sampler.channels) reserveResident(sampler.samples[c], kMaxSamplesPerChannel);
        sampler.stride[c] = 1;
        sampler.offered[c] = 0;
    }
}

void offerRow(StatisticsSampler& sampler, std::uint32_t channel, const float* values,
              std::size_t count) {
    if (channel >= sampler.channels || values == nullptr || count == 0) return;
    auto& samples = sampler.samples[channel];
    auto& stride = sampler.stride[channel];
    for (std::size_t position = 0; position < count; position += stride) {
        samples.push_back(values[position]);
        if (samples.size() == kMaxSamplesPerChannel) {
            thin(samples);
            if (stride < kMaxSamplerStride) stride *= 2;
        }
    }
    sampler.offered[channel] += count;
}

bool SampleSchedule::plan(const StatisticsSampler& sampler, std::uint64_t rows,
                          std::uint64_t width) {
    entries_.clear();
    keepEvery_ = 1;
    width_ = width;
    if (sampler.channels == 0 || rows > std::numeric_limits<std::uint32_t>::max() ||
        width > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    try {
        reserveResident(entries_, kMaxSamplesPerChannel);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // offerRow's own steps, on places instead of values.
    std::uint64_t held = sampler.samples[0].size();
    std::uint64_t stride = sampler.stride[0];
    for (std::uint64_t row = 0; row < rows; ++row) {
        for (std::uint64_t position = 0; position < width; position += stride) {
            entries_.push_back(
                {static_cast<std::uint32_t>(row), static_cast<std::uint32_t>(position)});
            if (held + entries_.size() < kMaxSamplesPerChannel) continue;
            std::size_t kept = 0;
            for (std::size_t i = held % 2; i < entries_.size(); i += 2)
                entries_[kept++] = entries_[i];
            entries_.resize(kept);
            if (held > 1) keepEvery_ *= 2;  // one held sample is the first, kept either way
            held = (held + 1) / 2;
            if (stride < kMaxSamplerStride) stride *= 2;
        }
    }
    strideAfter_ = stride;
    return true;
}

void SampleSchedule::begin(StatisticsSampler& sampler, std::uint32_t channel) const {
    if (channel >= sampler.channels) return;
    auto& samples = sampler.samples[channel];
    std::size_t kept = 0;
    for (std::size_t i = 0; i < samples.size(); i += keepEvery_) samples[kept++] = samples[i];
    samples.resize(kept + entries_.size());
    sampler.stride[channel] = strideAfter_;
}

void SampleSchedule::offer(StatisticsSampler& sampler, std::uint32_t channel, std::uint64_t row,
                           const float* values) const {
    if (channel >= sampler.channels || values == nullptr) return;
    auto& samples = sampler.samples[channel];
    if (samples.size() < entries_.size()) return;
    float* places = samples.data() + (samples.size() - entries_.size());
    auto entry = std::lower_bound(entries_.begin(), entries_.end(), row,
                                  [](const Entry& e, std::uint64_t r) { return e.row < r; });
    for (; entry != entries_.end() && entry->row == row; ++entry) {
        places[entry - entries_.begin()] = values[entry->position];
    }
}

void SampleSchedule::end(StatisticsSampler& sampler, std::uint32_t channel,
                         std::span<const std::uint8_t> rowOffered) const {
    if (channel >= sampler.channels) return;
    auto& samples = sampler.samples[channel];
    if (samples.size() < entries_.size()) return;
    const std::size_t first = samples.size() - entries_.size();
    std::size_t kept = first;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const std::uint32_t row = entries_[i].row;
        if (row < rowOffered.size() && rowOffered[row] != 0) samples[kept++] = samples[first + i];
    }
    samples.resize(kept);
    for (const std::uint8_t offered : rowOffered)
        sampler.offered[channel] += offered != 0 ? width_ : 0;
}

bool hasSamples(const StatisticsSampler& sampler) {
    for (std::uint32_t c = 0; c < sampler.channels; ++c) {
        if (!sampler.samples[c].empty()) return true;
    }
    return false;
}

ChannelStatistics computeStatistics(StatisticsSampler& sampler) {
    ChannelStatistics statistics;
    statistics.channels = sampler.channels;
    if (!hasSamples(sampler)) return statistics;

    float minimum = 1e30f;
    float maximum = -1e30f;
    for (std::uint32_t c = 0; c < sampler.channels; ++c) {
        for (float v : sampler.samples[c]) {
            minimum = std::min(minimum, v);
            maximum = std::max(maximum, v);
        }
    }
    const PercentilePoints points = percentilePoints(sampler);
    // Data in a sliver of 0..1 (fluxes in physical units, such as 1e-16)
    // get their own range as data outside 0..1 do: against a zero that far
    // below, the shadows clipping and the sparing would judge them wrongly.
    // Constant data keep 0..1 and are drawn at their level.
    const bool narrow = maximum > minimum && maximum - minimum < kMinUnitRangeSpan;
    if (minimum >= -kNormalizedSlack && maximum <= 1.0 + kNormalizedSlack && !narrow) {
        statistics.low = 0.0f;
        statistics.high = 1.0f;
    } else if (points.high > points.low) {
        statistics.low = points.low;
        statistics.high = points.high;
    } else {
        statistics.low = minimum;
        statistics.high = maximum;
    }
    const float range = statistics.high - statistics.low;
    const float scale = range > 0.0f ? 1.0f / range : 0.0f;

    for (std::uint32_t c = 0; c < sampler.channels; ++c) {
        if (sampler.samples[c].empty()) continue;
        std::vector<float>& values = sampler.samples[c];
        const float median = upperMedian(values);
        for (float& v : values) v = std::fabs(v - median);
        const float mad = upperMedian(values);
        statistics.channelValid[c] = true;
        statistics.median[c] = (median - statistics.low) * scale;
        statistics.mad[c] = mad * scale;
        statistics.sigma[c] = statistics.mad[c] * kMadToSigma;
    }
    statistics.dataLow = (points.low - statistics.low) * scale;
    statistics.dataHigh = (points.high - statistics.low) * scale;
    statistics.valid = true;
    return statistics;
}

}  // namespace cv
