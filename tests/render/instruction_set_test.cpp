// The wide pixel loops against the baseline, bit for bit: rows of every length
// around the vector width, random bytes (so NaN, infinities, subnormals and
// negative zero among the floats), each format in both byte orders.
#include "render/instruction_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "render/bayer.h"
#include "render/box_accumulator.h"
#include "render/compose_image.h"
#include "render/sample_conversion.h"

namespace {

using cv::InstructionSet;

class WideLoops : public ::testing::Test {
protected:
    void SetUp() override {
        if (cv::bestInstructionSet() != InstructionSet::Avx2)
            GTEST_SKIP() << "this processor has no AVX2";
    }
    void TearDown() override { cv::useInstructionSet(cv::bestInstructionSet()); }

    // What `work` writes under each set, as raw bytes.
    template <typename Work>
    static void expectSameUnderEachSet(Work work, const std::string& what) {
        cv::useInstructionSet(InstructionSet::Baseline);
        const auto baseline = work();
        cv::useInstructionSet(InstructionSet::Avx2);
        const auto wide = work();
        EXPECT_TRUE(baseline == wide) << what;
    }

    template <typename T, typename Allocator>
    static std::vector<std::uint8_t> bytesOf(const std::vector<T, Allocator>& values) {
        std::vector<std::uint8_t> bytes(values.size() * sizeof(T));
        if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
        return bytes;
    }

    std::vector<std::uint8_t> randomBytes(std::size_t count) {
        std::vector<std::uint8_t> bytes(count);
        for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random_());
        return bytes;
    }

    std::vector<float> randomFloats(std::size_t count) {
        std::vector<float> values(count);
        std::uniform_real_distribution<float> spread(-2.0f, 2.0f);
        for (auto& value : values) value = spread(random_);
        return values;
    }

    std::mt19937 random_{20261207};
};

TEST_F(WideLoops, ConvertEveryFormatAlike) {
    using cv::SampleFormat;
    const SampleFormat formats[] = {
        SampleFormat::UInt8,   SampleFormat::Int8,   SampleFormat::UInt16, SampleFormat::Int16,
        SampleFormat::UInt32,  SampleFormat::Int32,  SampleFormat::UInt64, SampleFormat::Int64,
        SampleFormat::Float32, SampleFormat::Float64};
    const std::pair<float, float> normalisations[] = {
        {1.0f, 0.0f}, {1.0f / 65535.0f, 0.5f}, {3.0e38f, -1.0f}};
    for (const SampleFormat format : formats) {
        for (std::size_t count = 1; count <= 40; ++count) {
            const std::vector<std::uint8_t> raw = randomBytes(count * cv::bytesPerSample(format));
            for (const bool bigEndian : {false, true}) {
                for (const auto& [scale, offset] : normalisations) {
                    expectSameUnderEachSet(
                        [&] {
                            std::vector<float> out(count);
                            EXPECT_TRUE(cv::convertRow(raw.data(), count, format, bigEndian, scale,
                                                       offset, out.data()));
                            return bytesOf(out);
                        },
                        "format " + std::to_string(static_cast<int>(format)) + ", " +
                            std::to_string(count) + " samples");
                }
            }
        }
    }
}

TEST_F(WideLoops, AccumulateBoxesOfEveryWidthAlike) {
    for (const std::uint64_t sourceWidth : {1u, 7u, 8u, 12u, 23u, 40u, 333u, 6000u}) {
        for (const std::uint32_t outWidth : {1u, 2u, 3u, 17u, 256u}) {
            if (outWidth > sourceWidth) continue;
            std::vector<std::vector<float>> rows;
            for (int r = 0; r < 3; ++r) rows.push_back(randomFloats(sourceWidth));
            rows[1][0] = -0.0f;
            rows[2][sourceWidth / 2] = std::numeric_limits<float>::quiet_NaN();
            expectSameUnderEachSet(
                [&] {
                    cv::BoxAccumulator accumulator;
                    cv::BoxAccumulator sumsOnly;
                    EXPECT_EQ(
                        cv::prepareAccumulator(accumulator, outWidth, 1, 1, sourceWidth, 1u << 24),
                        cv::ReadStatus::Ok);
                    EXPECT_EQ(cv::prepareAccumulator(sumsOnly, outWidth, 1, 1, sourceWidth,
                                                     1u << 24, false),
                              cv::ReadStatus::Ok);
                    for (const auto& row : rows) {
                        cv::accumulateRow(accumulator, 0, 0, row.data());
                        cv::accumulateRow(sumsOnly, 0, 0, row.data());
                    }
                    std::vector<std::uint8_t> bytes = bytesOf(accumulator.sums);
                    EXPECT_EQ(bytesOf(sumsOnly.sums), bytes)
                        << "the sums do not depend on keeping maxima";
                    EXPECT_TRUE(sumsOnly.maxima.empty());
                    const std::vector<std::uint8_t> maxima = bytesOf(accumulator.maxima);
                    bytes.insert(bytes.end(), maxima.begin(), maxima.end());
                    return bytes;
                },
                std::to_string(sourceWidth) + " columns into " + std::to_string(outWidth));
        }
    }
}

TEST_F(WideLoops, DemosaicEveryPatternAlike) {
    for (const char* name : {"RGGB", "BGGR", "GRBG", "GBRG"}) {
        const cv::BayerPattern pattern = *cv::parseBayerPattern(name);
        for (std::size_t cells = 0; cells <= 40; ++cells) {
            // Exactly 2 * cells samples a row, so a read past the row shows under the sanitizers.
            const std::vector<float> first = randomFloats(2 * cells);
            const std::vector<float> second = randomFloats(2 * cells);
            expectSameUnderEachSet(
                [&] {
                    std::vector<float> colours(3 * cells);
                    cv::demosaicRowPair(first.data(), second.data(), cells, pattern, colours.data(),
                                        colours.data() + cells, colours.data() + 2 * cells);
                    return bytesOf(colours);
                },
                std::string(name) + ", " + std::to_string(cells) + " cells");
        }
    }
}

// A steep curve whose shadows lie above some values, over a range beyond 0..1.
TEST_F(WideLoops, ComposeEveryWidthAlike) {
    cv::StretchParameters curve;
    curve.shadows = {0.1f, 0.1f, 0.1f, 0.1f};
    curve.midtones = {0.01f, 0.2f, 0.7f, 0.5f};
    curve.low = -1.5f;
    curve.high = 1.7f;
    for (std::uint32_t width = 1; width <= 40; ++width) {
        std::vector<float> row = randomFloats(width * 2);
        row[0] = std::numeric_limits<float>::quiet_NaN();
        expectSameUnderEachSet(
            [&] {
                cv::BoxAccumulator boxes;
                EXPECT_EQ(cv::prepareAccumulator(boxes, width, 1, 3, width * 2, 1u << 24, false),
                          cv::ReadStatus::Ok);
                for (std::uint32_t c = 0; c < 3; ++c) cv::accumulateRow(boxes, c, 0, row.data());
                cv::RgbImage image;
                cv::composeImage(boxes, curve, cv::PeakBlend{}, 0.0f, image);
                return image.pixels;
            },
            std::to_string(width) + " boxes");
    }
}

}  // namespace
