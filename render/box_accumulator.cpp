#include "render/box_accumulator.h"

#include <algorithm>
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif
#include <bit>
#include <limits>
#include <new>
#include <optional>

#include "core/image_data.h"
#include "core/large_allocator.h"
#include "core/text_utils.h"
#include "render/avx2_kernels.h"
#include "render/instruction_set.h"

namespace cv {

std::optional<std::uint64_t> accumulatorBytes(std::uint32_t outWidth, std::uint32_t outHeight,
                                              std::uint32_t channels) {
    const std::uint64_t boxes = static_cast<std::uint64_t>(outWidth) * outHeight;  // < 2^64
    const auto planes = safeMultiply(boxes, 2ull * channels);
    const std::uint64_t tables = 2ull * outWidth + outHeight;  // < 2^34
    if (!planes || *planes > std::numeric_limits<std::uint64_t>::max() - tables)
        return std::nullopt;
    return safeMultiply(*planes + tables, 4);
}

namespace {

#if defined(__SSE2__) || defined(_M_X64)
float horizontalSum(__m128 v) {
    const __m128 pairs = _mm_add_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
}

float horizontalMax(__m128 v) {
    const __m128 pairs = _mm_max_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_max_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
}

// Sum and, with kMaxima, maximum of one box, four and eight columns at a
// time. Boxes are tens of columns wide, so the order of additions differs
// from a plain loop only by rounding.
template <bool kMaxima>
void reduceBox(const float* values, std::uint32_t start, std::uint32_t end, float& sum,
               float* maximum) {
    __m128 sums0 = _mm_setzero_ps();
    __m128 sums1 = _mm_setzero_ps();
    __m128 maxima0 = _mm_set1_ps(kMaxima ? *maximum : 0.0f);
    __m128 maxima1 = maxima0;
    std::uint32_t x = start;
    for (; x + 8 <= end; x += 8) {
        const __m128 a = _mm_loadu_ps(values + x);
        const __m128 b = _mm_loadu_ps(values + x + 4);
        sums0 = _mm_add_ps(sums0, a);
        sums1 = _mm_add_ps(sums1, b);
        if constexpr (kMaxima) {
            maxima0 = _mm_max_ps(maxima0, a);
            maxima1 = _mm_max_ps(maxima1, b);
        }
    }
    if (x + 4 <= end) {
        const __m128 a = _mm_loadu_ps(values + x);
        sums0 = _mm_add_ps(sums0, a);
        if constexpr (kMaxima) maxima0 = _mm_max_ps(maxima0, a);
        x += 4;
    }
    float total = horizontalSum(_mm_add_ps(sums0, sums1));
    for (std::uint32_t t = x; t < end; ++t) total += values[t];
    sum += total;
    if constexpr (kMaxima) {
        float largest = horizontalMax(_mm_max_ps(maxima0, maxima1));
        for (; x < end; ++x) largest = std::max(largest, values[x]);
        *maximum = largest;
    }
}
#else
template <bool kMaxima>
void reduceBox(const float* values, std::uint32_t start, std::uint32_t end, float& sum,
               float* maximum) {
    float total = 0.0f;
    for (std::uint32_t x = start; x < end; ++x) total += values[x];
    sum += total;
    if constexpr (kMaxima) {
        for (std::uint32_t x = start; x < end; ++x) *maximum = std::max(*maximum, values[x]);
    }
}
#endif

void reduceBoxes(const BoxAccumulator& accumulator, const float* values, float* sums,
                 float* maxima) {
    const std::uint32_t* starts = accumulator.columnStart.data();
    const std::uint32_t* ends = accumulator.columnEnd.data();
#if CORVANE_AVX2_KERNELS
    if (activeInstructionSet() == InstructionSet::Avx2) {
        avx2::reduceBoxes(values, starts, ends, accumulator.outWidth, sums, maxima);
        return;
    }
#endif
    for (std::uint32_t i = 0; i < accumulator.outWidth; ++i) {
        if (maxima == nullptr)
            reduceBox<false>(values, starts[i], ends[i], sums[i], nullptr);
        else
            reduceBox<true>(values, starts[i], ends[i], sums[i], maxima + i);
    }
}

}  // namespace

ReadStatus prepareAccumulator(BoxAccumulator& accumulator, std::uint32_t outWidth,
                              std::uint32_t outHeight, std::uint32_t channels,
                              std::uint64_t sourceWidth, std::uint64_t memoryLimit,
                              bool keepMaxima) {
    if (outWidth == 0 || outHeight == 0 || channels < 1 || channels > kMaxAccumulatorChannels ||
        sourceWidth < 1 || sourceWidth > kMaxImageSide) {
        return ReadStatus::Malformed;
    }
    const auto bytes = accumulatorBytes(outWidth, outHeight, channels);
    if (!bytes || *bytes > memoryLimit) return ReadStatus::TooLarge;
    try {
        accumulator.outWidth = outWidth;
        accumulator.outHeight = outHeight;
        accumulator.channels = channels;
        accumulator.sourceWidth = sourceWidth;
        accumulator.columnStart.assign(outWidth, 0);
        accumulator.columnEnd.assign(outWidth, 0);
        for (std::uint64_t i = 0; i < outWidth; ++i) {
            const std::uint64_t start = std::min(i * sourceWidth / outWidth, sourceWidth - 1);
            const std::uint64_t end =
                std::min(std::max((i + 1) * sourceWidth / outWidth, start + 1), sourceWidth);
            accumulator.columnStart[i] = static_cast<std::uint32_t>(start);
            accumulator.columnEnd[i] = static_cast<std::uint32_t>(end);
        }
        const std::size_t boxes = static_cast<std::size_t>(outWidth) * outHeight;
        reserveResident(accumulator.sums, boxes * channels);
        accumulator.sums.assign(boxes * channels, 0.0f);
        accumulator.maxima.clear();
        if (keepMaxima) {
            reserveResident(accumulator.maxima, boxes * channels);
            accumulator.maxima.assign(boxes * channels, std::bit_cast<float>(kInitialMaximumBits));
        }
        accumulator.rowsAdded.assign(outHeight, 0);
    } catch (const std::bad_alloc&) {
        accumulator = BoxAccumulator{};
        return ReadStatus::TooLarge;
    }
    return ReadStatus::Ok;
}

void accumulateRow(BoxAccumulator& accumulator, std::uint32_t channel, std::uint32_t row,
                   const float* values) {
    if (values == nullptr || channel >= accumulator.channels || row >= accumulator.outHeight)
        return;
    const std::size_t base = accumulator.index(channel, row, 0);
    float* sums = accumulator.sums.data() + base;
    float* maxima = accumulator.maxima.empty() ? nullptr : accumulator.maxima.data() + base;
    reduceBoxes(accumulator, values, sums, maxima);
    if (channel == 0) ++accumulator.rowsAdded[row];
}

void clearRow(BoxAccumulator& accumulator, std::uint32_t row) {
    if (row >= accumulator.outHeight) return;
    for (std::uint32_t channel = 0; channel < accumulator.channels; ++channel) {
        const std::size_t base = accumulator.index(channel, row, 0);
        std::fill_n(accumulator.sums.begin() + static_cast<std::ptrdiff_t>(base),
                    accumulator.outWidth, 0.0f);
        if (!accumulator.maxima.empty()) {
            std::fill_n(accumulator.maxima.begin() + static_cast<std::ptrdiff_t>(base),
                        accumulator.outWidth, std::bit_cast<float>(kInitialMaximumBits));
        }
    }
    accumulator.rowsAdded[row] = 0;
}

}  // namespace cv
