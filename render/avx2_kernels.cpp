#include "render/avx2_kernels.h"

#if CORVANE_AVX2_KERNELS
#include <immintrin.h>

#include <algorithm>

// Only these functions may use AVX2: the rest of the program must run on any
// x86-64 processor, so the whole file cannot be compiled for it.
#define CORVANE_AVX2 __attribute__((target("avx2")))

namespace cv::avx2 {

namespace {

constexpr std::size_t kLanes = 8;  // floats per vector
constexpr int kFloatExponent = 0x7F800000;
constexpr double kUInt32Bias = 2147483648.0;  // 2^31, exact in a double

// Byte order within each 2-, 4-byte sample reversed, for each 128-bit half.
CORVANE_AVX2 __m128i swapMask16() {
    return _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
}
CORVANE_AVX2 __m256i swapMask32() {
    return _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1, 0, 7, 6,
                            5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
}

// Eight integers widened to 32 bits, by the width and signedness of the sample.
CORVANE_AVX2 __m256i widenedIntegers(const unsigned char* source, SampleFormat format, bool swap) {
    switch (format) {
        case SampleFormat::UInt8:
            return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(source)));
        case SampleFormat::Int8:
            return _mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(source)));
        default: {
            __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
            if (swap) pairs = _mm_shuffle_epi8(pairs, swapMask16());
            return format == SampleFormat::UInt16 ? _mm256_cvtepu16_epi32(pairs)
                                                  : _mm256_cvtepi16_epi32(pairs);
        }
    }
}

CORVANE_AVX2 std::size_t convertSmallIntegers(const unsigned char* source, std::size_t count,
                                              SampleFormat format, bool swap, float scale,
                                              float offset, float* destination) {
    const std::size_t width = bytesPerSample(format);
    const __m256 s = _mm256_set1_ps(scale);
    const __m256 o = _mm256_set1_ps(offset);
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m256 raw = _mm256_cvtepi32_ps(widenedIntegers(source + i * width, format, swap));
        _mm256_storeu_ps(destination + i, _mm256_add_ps(_mm256_mul_ps(raw, s), o));
    }
    return i;
}

CORVANE_AVX2 __m256i loadWords(const unsigned char* source, bool swap) {
    const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source));
    return swap ? _mm256_shuffle_epi8(words, swapMask32()) : words;
}

// Four 32-bit integers as doubles, times scale plus offset, rounded to floats.
CORVANE_AVX2 __m128 scaledQuarter(__m128i integers, bool unsignedSamples, __m256d scale,
                                  __m256d offset) {
    __m256d raw;
    if (unsignedSamples) {
        const __m128i shifted =
            _mm_xor_si128(integers, _mm_set1_epi32(static_cast<int>(0x80000000u)));
        raw = _mm256_add_pd(_mm256_cvtepi32_pd(shifted), _mm256_set1_pd(kUInt32Bias));
    } else {
        raw = _mm256_cvtepi32_pd(integers);
    }
    return _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(raw, scale), offset));
}

CORVANE_AVX2 std::size_t convertInt32(const unsigned char* source, std::size_t count,
                                      bool unsignedSamples, bool swap, float scale, float offset,
                                      float* destination) {
    const __m256d s = _mm256_set1_pd(scale);
    const __m256d o = _mm256_set1_pd(offset);
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m256i words = loadWords(source + i * 4, swap);
        _mm_storeu_ps(destination + i,
                      scaledQuarter(_mm256_castsi256_si128(words), unsignedSamples, s, o));
        _mm_storeu_ps(destination + i + 4,
                      scaledQuarter(_mm256_extracti128_si256(words, 1), unsignedSamples, s, o));
    }
    return i;
}

CORVANE_AVX2 __m256 zeroIfNotFinite(__m256i bits) {
    const __m256i exponent = _mm256_set1_epi32(kFloatExponent);
    const __m256i notFinite = _mm256_cmpeq_epi32(_mm256_and_si256(bits, exponent), exponent);
    return _mm256_castsi256_ps(_mm256_andnot_si256(notFinite, bits));
}

CORVANE_AVX2 std::size_t convertFloat32(const unsigned char* source, std::size_t count, bool swap,
                                        float scale, float offset, float* destination) {
    const __m256 s = _mm256_set1_ps(scale);
    const __m256 o = _mm256_set1_ps(offset);
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const __m256 raw = zeroIfNotFinite(loadWords(source + i * 4, swap));
        const __m256 value = _mm256_add_ps(_mm256_mul_ps(raw, s), o);
        _mm256_storeu_ps(destination + i, zeroIfNotFinite(_mm256_castps_si256(value)));
    }
    return i;
}

CORVANE_AVX2 float horizontalSum(__m128 v) {
    const __m128 pairs = _mm_add_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
}

CORVANE_AVX2 float horizontalMax(__m128 v) {
    const __m128 pairs = _mm_max_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_max_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
}

// The baseline keeps two four-lane sums, the columns x..x+3 and x+4..x+7 of
// each group of eight; one eight-lane vector holds both, halves in that order.
template <bool kMaxima>
CORVANE_AVX2 void reduceBox(const float* values, std::uint32_t start, std::uint32_t end, float& sum,
                            float* maximum) {
    __m256 sums = _mm256_setzero_ps();
    __m256 maxima = _mm256_set1_ps(kMaxima ? *maximum : 0.0f);
    std::uint32_t x = start;
    for (; x + 8 <= end; x += 8) {
        const __m256 v = _mm256_loadu_ps(values + x);
        sums = _mm256_add_ps(sums, v);
        if constexpr (kMaxima) maxima = _mm256_max_ps(maxima, v);
    }
    __m128 sums0 = _mm256_castps256_ps128(sums);
    __m128 maxima0 = _mm256_castps256_ps128(maxima);
    if (x + 4 <= end) {
        const __m128 a = _mm_loadu_ps(values + x);
        sums0 = _mm_add_ps(sums0, a);
        if constexpr (kMaxima) maxima0 = _mm_max_ps(maxima0, a);
        x += 4;
    }
    float total = horizontalSum(_mm_add_ps(sums0, _mm256_extractf128_ps(sums, 1)));
    for (std::uint32_t t = x; t < end; ++t) total += values[t];
    sum += total;
    if constexpr (kMaxima) {
        float largest = horizontalMax(_mm_max_ps(maxima0, _mm256_extractf128_ps(maxima, 1)));
        for (; x < end; ++x) largest = std::max(largest, values[x]);
        *maximum = largest;
    }
}

// Cells i..i+7 of one cell position: every other sample from the row's
// sample 2i, loaded from 2i on so a position at odd columns never reads past
// the row's last sample.
CORVANE_AVX2 __m256 cellSamples(const float* row, std::size_t i, bool oddColumn) {
    const __m256 low = _mm256_loadu_ps(row + 2 * i);
    const __m256 high = _mm256_loadu_ps(row + 2 * i + kLanes);
    const __m256 picked = oddColumn ? _mm256_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1))
                                    : _mm256_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));
    return _mm256_castpd_ps(
        _mm256_permute4x64_pd(_mm256_castps_pd(picked), _MM_SHUFFLE(3, 1, 2, 0)));
}

// Cell positions 0 and 1 are in the first row of the pair, 2 and 3 in the second.
CORVANE_AVX2 __m256 positionSamples(const float* first, const float* second, std::uint8_t position,
                                    std::size_t i) {
    return cellSamples(position < 2 ? first : second, i, (position & 1u) != 0);
}

CORVANE_AVX2 __m256 clampUnit(__m256 v) {
    return _mm256_min_ps(_mm256_max_ps(v, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
}

}  // namespace

CORVANE_AVX2 std::size_t convertSamples(const unsigned char* source, std::size_t count,
                                        SampleFormat format, bool swap, float scale, float offset,
                                        float* destination) {
    switch (format) {
        case SampleFormat::UInt8:
        case SampleFormat::Int8:
        case SampleFormat::UInt16:
        case SampleFormat::Int16:
            return convertSmallIntegers(source, count, format, swap, scale, offset, destination);
        case SampleFormat::UInt32:
            return convertInt32(source, count, true, swap, scale, offset, destination);
        case SampleFormat::Int32:
            return convertInt32(source, count, false, swap, scale, offset, destination);
        case SampleFormat::Float32:
            return convertFloat32(source, count, swap, scale, offset, destination);
        default:
            return 0;
    }
}

CORVANE_AVX2 void reduceBoxes(const float* values, const std::uint32_t* starts,
                              const std::uint32_t* ends, std::uint32_t boxes, float* sums,
                              float* maxima) {
    for (std::uint32_t i = 0; i < boxes; ++i) {
        if (maxima == nullptr)
            reduceBox<false>(values, starts[i], ends[i], sums[i], nullptr);
        else
            reduceBox<true>(values, starts[i], ends[i], sums[i], maxima + i);
    }
}

CORVANE_AVX2 std::size_t averagePositions(const float* first, const float* second,
                                          std::size_t cells,
                                          const std::array<std::uint8_t, 4>& positions,
                                          std::size_t used, float* out) {
    if (used == 0 || used > positions.size()) return 0;
    const __m256 count = _mm256_set1_ps(static_cast<float>(used));
    const __m256 two = _mm256_set1_ps(2.0f);
    std::size_t i = 0;
    for (; i + kLanes <= cells; i += kLanes) {
        __m256 value;
        if (used == 1) {
            value = positionSamples(first, second, positions[0], i);
        } else if (used == 2) {
            value = _mm256_div_ps(_mm256_add_ps(positionSamples(first, second, positions[0], i),
                                                positionSamples(first, second, positions[1], i)),
                                  two);
        } else {
            value = _mm256_setzero_ps();
            for (std::size_t k = 0; k < used; ++k)
                value = _mm256_add_ps(value, positionSamples(first, second, positions[k], i));
            value = _mm256_div_ps(value, count);
        }
        _mm256_storeu_ps(out + i, value);
    }
    return i;
}

CORVANE_AVX2 std::size_t toneRow(const float* sums, const float* counts, std::size_t width,
                                 const ToneCurve& curve, std::uint8_t* bytes) {
    if (curve.stepped) return 0;
    const __m256 low = _mm256_set1_ps(curve.low);
    const __m256 scale = _mm256_set1_ps(curve.scale);
    const __m256 shadows = _mm256_set1_ps(curve.shadows);
    const __m256 inverseSpan = _mm256_set1_ps(curve.inverseSpan);
    const __m256 midtones = _mm256_set1_ps(curve.midtones);
    const __m256 midtonesLess1 = _mm256_set1_ps(curve.midtonesLess1);
    const __m256 twiceLess1 = _mm256_set1_ps(curve.twiceLess1);
    const __m256 levels = _mm256_set1_ps(255.0f);
    const __m256 half = _mm256_set1_ps(0.5f);
    std::size_t i = 0;
    for (; i + kLanes <= width; i += kLanes) {
        const __m256 mean = _mm256_div_ps(_mm256_loadu_ps(sums + i), _mm256_loadu_ps(counts + i));
        const __m256 t = clampUnit(_mm256_mul_ps(_mm256_sub_ps(mean, low), scale));
        const __m256 x = clampUnit(_mm256_mul_ps(_mm256_sub_ps(t, shadows), inverseSpan));
        const __m256 y = _mm256_div_ps(_mm256_mul_ps(midtonesLess1, x),
                                       _mm256_sub_ps(_mm256_mul_ps(twiceLess1, x), midtones));
        const __m256i level =
            _mm256_cvttps_epi32(_mm256_add_ps(_mm256_mul_ps(clampUnit(y), levels), half));
        // 0..255 in each 32-bit lane, packed to words and then bytes in lane order.
        const __m128i words =
            _mm_packus_epi32(_mm256_castsi256_si128(level), _mm256_extracti128_si256(level, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + i), _mm_packus_epi16(words, words));
    }
    return i;
}

}  // namespace cv::avx2
#endif
