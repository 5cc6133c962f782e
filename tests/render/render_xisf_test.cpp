// Rendering XISF files: thumbnail choice, blocks in the header, real files.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/file_reader.h"
#include "support/test_names.h"
#include "formats/image_header.h"
#include "render/render_profiles.h"
#include "samples/xisf_writer.h"
#include "support/test_readers.h"

namespace {

struct Rendered {
    cv::ReadStatus status = cv::ReadStatus::Ok;
    cv::RgbImage image;
    cv::RenderReport report;
};

Rendered renderWith(cv::Reader& reader, const cv::RenderOptions& options) {
    Rendered result;
    cv::ImageData data;
    result.status = cv::readImageHeader(reader, data);
    if (result.status != cv::ReadStatus::Ok) return result;
    cv::RenderBudget budget = cv::thumbnailBudget();
    result.status = cv::renderImage(reader, data, options, budget, result.image, &result.report);
    return result;
}

cvsamples::XisfBlock constantBlock(std::uint64_t width, std::uint64_t height, const char* format,
                                   char byte) {
    cvsamples::XisfBlock block;
    block.width = width;
    block.height = height;
    block.sampleFormat = format;
    block.samples.assign(width * height * (std::string(format) == "UInt8" ? 1 : 2), byte);
    return block;
}

TEST(RenderXisf, UsesTheEmbeddedThumbnailOnlyWhenItIsLargeEnough) {
    cvsamples::XisfWriter writer;
    const auto thumbnail = constantBlock(400, 300, "UInt8", '\x40');
    writer.addImage(constantBlock(1200, 900, "UInt16", '\x10'), {}, &thumbnail);
    cvtest::BytesReader reader(writer.bytes());
    const cv::RenderSettings settings;
    EXPECT_TRUE(
        renderWith(reader, cv::thumbnailOptions(256, settings)).report.usedEmbeddedThumbnail);
    EXPECT_FALSE(
        renderWith(reader, cv::thumbnailOptions(512, settings)).report.usedEmbeddedThumbnail);
    EXPECT_TRUE(renderWith(reader, cv::previewOptions(true, settings)).report.usedEmbeddedThumbnail)
        << "the preview's quick pass prefers it";
    EXPECT_FALSE(
        renderWith(reader, cv::previewOptions(false, settings)).report.usedEmbeddedThumbnail);
}

TEST(RenderXisf, RendersCompressedBlocksStoredInTheHeader) {
    cvsamples::XisfBlock block = constantBlock(64, 48, "UInt16", '\x00');
    for (std::size_t i = 0; i < block.samples.size(); i += 2)
        block.samples[i + 1] = static_cast<char>(0x80 + i % 5);
    block.placement = cvsamples::XisfBlock::Placement::Embedded;
    block.codec = "zstd";
    block.shuffleItemSize = 2;
    block.compressionOnData = true;
    cvsamples::XisfWriter writer;
    writer.addImage(block);
    cvtest::BytesReader reader(writer.bytes());
    const auto result = renderWith(reader, cv::thumbnailOptions(256, cv::RenderSettings{}));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_TRUE(result.report.decompressed);
    EXPECT_EQ(result.image.width, 64u);
}

TEST(RenderXisf, ShuffledBlocksDrawWhatTheirPlainTwinDraws) {
    cvsamples::XisfBlock plain = constantBlock(301, 97, "UInt16", '\x00');
    for (std::size_t i = 0; i < plain.samples.size(); ++i)
        plain.samples[i] = static_cast<char>((i * 7919) % 251);
    auto render = [](const cvsamples::XisfBlock& block) {
        cvsamples::XisfWriter writer;
        writer.addImage(block);
        cvtest::BytesReader reader(writer.bytes());
        return renderWith(reader, cv::thumbnailOptions(128, cv::RenderSettings{}));
    };
    const auto expected = render(plain);
    ASSERT_EQ(expected.status, cv::ReadStatus::Ok);
    for (const char* codec : {"zlib", "lz4", "zstd"}) {
        cvsamples::XisfBlock shuffled = plain;
        shuffled.codec = codec;
        shuffled.shuffleItemSize = 2;
        const auto result = render(shuffled);
        ASSERT_EQ(result.status, cv::ReadStatus::Ok) << codec;
        EXPECT_EQ(result.image.pixels, expected.image.pixels) << codec;
    }
}

struct DamagedThumbnail {
    const char* name;
    cvsamples::XisfBlock thumbnail;
    std::size_t corruptFrom;  // bytes of the file flipped from here on (0: none)
};

std::vector<DamagedThumbnail> damagedThumbnails() {
    auto inlined = [](cvsamples::XisfBlock block) {
        block.placement = cvsamples::XisfBlock::Placement::Inline;
        return block;
    };
    cvsamples::XisfBlock shortPayload = inlined(constantBlock(300, 200, "UInt8", '\x40'));
    shortPayload.samples.resize(shortPayload.samples.size() / 2);
    cvsamples::XisfBlock emptyPayload = inlined(constantBlock(300, 200, "UInt8", '\x40'));
    emptyPayload.samples.clear();
    cvsamples::XisfBlock corruptZlib = constantBlock(300, 200, "UInt8", '\x40');
    corruptZlib.codec = "zlib";
    // The writer stores the thumbnail's attachment first, at 4096.
    return {{"short inline payload", shortPayload, 0},
            {"empty inline element", emptyPayload, 0},
            {"corrupt zlib attachment", corruptZlib, 4096 + 8}};
}

TEST(RenderXisf, DrawsTheMainImageWhenTheEmbeddedThumbnailIsDamaged) {
    for (const auto& c : damagedThumbnails()) {
        cvsamples::XisfWriter writer;
        writer.addImage(constantBlock(1200, 900, "UInt16", '\x10'), {}, &c.thumbnail);
        std::string bytes = writer.bytes();
        if (c.corruptFrom != 0) {
            for (std::size_t i = c.corruptFrom; i < c.corruptFrom + 16; ++i)
                bytes[i] = static_cast<char>(~bytes[i]);
        }
        cvtest::BytesReader reader(bytes);
        const auto result = renderWith(reader, cv::thumbnailOptions(256, cv::RenderSettings{}));
        ASSERT_EQ(result.status, cv::ReadStatus::Ok)
            << c.name << ": " << cv::readStatusName(result.status);
        EXPECT_FALSE(result.report.usedEmbeddedThumbnail) << c.name;
        EXPECT_EQ(result.image.width, 256u) << c.name;
        EXPECT_EQ(result.image.height, 192u) << c.name;
    }
}

TEST(RenderXisf, AbandonsLoadingABlockPastTwiceTheTimeLimit) {
    cvsamples::XisfBlock block = constantBlock(64, 48, "UInt16", '\x10');
    block.codec = "zstd";
    cvsamples::XisfWriter writer;
    writer.addImage(block);
    cvtest::BytesReader reader(writer.bytes());
    cv::ImageData data;
    ASSERT_EQ(cv::readImageHeader(reader, data), cv::ReadStatus::Ok);
    cv::RenderBudget budget = cv::thumbnailBudget();
    budget.startTime -=
        3 * std::int64_t{budget.timeLimitMs} * 1000000;  // began three time limits ago
    cv::RgbImage image;
    EXPECT_EQ(cv::renderImage(reader, data, cv::thumbnailOptions(256, cv::RenderSettings{}), budget,
                              image),
              cv::ReadStatus::TimedOut);
}

// Real files: constant images have no spread, so the stretch is the
// identity and the grey level is the normalised value.
struct RealFile {
    const char* path;
    int grey;  // expected level of every pixel at --size 512, or -1 when not constant
};

void PrintTo(const RealFile& c, std::ostream* out) {
    *out << c.path;
}

const RealFile kRealFiles[] = {
    {"xisfsharp/400x300-u16.xisf", 128},
    {"xisfsharp/400x300-f32.xisf", 128},
    {"xisfsharp/400x300-u32.xisf", 128},
    {"xisfsharp/400x300-u8.xisf", 128},
    {"xisfsharp/400x300-f64.xisf", 128},
    {"xisfsharp/400x300-u16-zstd-shuffle.xisf", 0},
    {"xisfsharp/400x300-u16-lz4hc.xisf", 0},
    {"xisfsharp/200x150-u16-zstd-shuffle-process-history-display-function-icc-sha1.xisf", 128},
    {"xisfsharp/40x30-u16-embedded.xisf", -1},
    {"xisfits/xisf-image-gray-256x256-8bits.xisf", 255},
    {"xisfits/xisf-image-gray-256x256-float-32bits.xisf", 255},
    {"xisfits/xisf-image-gray-256x256-16bits-zlib_sh.xisf", -1},
    {"xisfits/xisf-image-rgb-256x256-16bits.xisf", -1},
    {"graxpert/color_32bit.xisf", -1},
    {"libxisf/test_lz4.xisf", -1},
    {"wrenby-xisf/test.xisf", -1},
    {"wrenby-xisf/2ch.xisf", -1},
};

class RealXisfRendering : public ::testing::TestWithParam<RealFile> {};

TEST_P(RealXisfRendering, RendersTheMainImage) {
    const RealFile& c = GetParam();
    const auto path = std::filesystem::path(CORVANE_EXTERNAL_TESTDATA) / c.path;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not here";
    auto reader = cv::FileReader::open(path.string());
    ASSERT_NE(reader, nullptr);
    const auto result = renderWith(*reader, cv::thumbnailOptions(512, cv::RenderSettings{}));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok) << cv::readStatusName(result.status);
    EXPECT_FALSE(result.report.usedEmbeddedThumbnail);
    ASSERT_FALSE(result.image.empty());
    if (c.grey < 0) return;
    for (std::uint8_t byte : result.image.pixels) ASSERT_EQ(byte, c.grey);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, RealXisfRendering, ::testing::ValuesIn(kRealFiles),
                         [](const auto& param) { return cvtest::testNameOf(param.param.path); });

}  // namespace
