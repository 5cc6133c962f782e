#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace cv {

constexpr std::uint32_t kMaxStatisticsChannels = 4;
constexpr std::size_t kMaxSamplesPerChannel = 32768;   // the list is thinned on reaching this
constexpr std::uint64_t kMaxSamplerStride = 0x100000;  // stride stops doubling here

// A bounded, deterministically thinned sample of everything offered, per
// channel: never more than 32,767 values each.
struct StatisticsSampler {
    std::uint32_t channels = 0;
    std::array<std::vector<float>, kMaxStatisticsChannels> samples;
    std::array<std::uint64_t, kMaxStatisticsChannels> stride{};
    std::array<std::uint64_t, kMaxStatisticsChannels> offered{};
};

void prepareSampler(StatisticsSampler& sampler, std::uint32_t channels);
void offerRow(StatisticsSampler& sampler, std::uint32_t channel, const float* values,
              std::size_t count);
bool hasSamples(const StatisticsSampler& sampler);

// Which values a sampler would keep of `rows` more rows of `width` values
// offered one after another, worked out before they are read: the rows can
// then be offered in any order, by several threads at once, and leave the
// same samples, in the same order, as offerRow would.
// Assumes every channel was offered rows of the same lengths so far.
class SampleSchedule {
public:
    // False when the schedule does not fit in memory.
    [[nodiscard]] bool plan(const StatisticsSampler& sampler, std::uint64_t rows,
                            std::uint64_t width);
    // Thins what the channel holds as the rows to come would have, and makes
    // room for their samples (within what prepareSampler reserved).
    void begin(StatisticsSampler& sampler, std::uint32_t channel) const;
    // Row `row` of the planned order (0 is the first planned), `width` values,
    // into its own places: each row at most once.
    void offer(StatisticsSampler& sampler, std::uint32_t channel, std::uint64_t row,
               const float* values) const;
    // Keeps the samples of the rows offered (rowOffered[row] nonzero) and
    // drops the room left for the others.
    void end(StatisticsSampler& sampler, std::uint32_t channel,
             std::span<const std::uint8_t> rowOffered) const;

private:
    struct Entry {
        std::uint32_t row;
        std::uint32_t position;
    };
    std::vector<Entry> entries_;   // in offering order, so sorted by row
    std::uint64_t keepEvery_ = 1;  // of the samples held before
    std::uint64_t strideAfter_ = 1;
    std::uint64_t width_ = 0;
};

// Robust figures of each channel, normalised to the range [low, high].
struct ChannelStatistics {
    std::uint32_t channels = 0;
    std::array<bool, kMaxStatisticsChannels> channelValid{};
    std::array<float, kMaxStatisticsChannels> median{};
    std::array<float, kMaxStatisticsChannels> mad{};
    std::array<float, kMaxStatisticsChannels> sigma{};
    float low = 0.0f;
    float high = 1.0f;
    // The 0.1 % and 99.9 % points of all channels' samples, normalised as
    // the medians are: how much of the range the data use.
    float dataLow = 0.0f;
    float dataHigh = 1.0f;
    bool valid = false;
};

// The samples are used up in place (reordered, then replaced by their
// deviations) rather than copied; only the percentile points of several
// channels take one pooled copy.
ChannelStatistics computeStatistics(StatisticsSampler& sampler);

}  // namespace cv
