// FITS files written by other software (PixInsight, INDI, PHD2, IRAF,
// astropy, ImageJ), read with this reader's rules.
#include <gtest/gtest.h>

#include <string_view>

#include <filesystem>
#include <optional>

#include "core/file_reader.h"
#include "support/test_names.h"
#include "formats/image_header.h"

namespace {

struct ExternalCase {
    const char* path;
    cv::ReadStatus status;
    std::uint64_t width;
    std::uint64_t height;
    std::uint32_t channels;
    cv::SampleFormat format;
    const char* cfa;
    std::uint32_t imageCount;
};

using cv::ReadStatus;
using cv::SampleFormat;

const ExternalCase kCases[] = {
    {"graxpert/color_16bit.fits", ReadStatus::Ok, 6, 5, 3, SampleFormat::Int16, "", 1},
    {"graxpert/color_32bit.fits", ReadStatus::Ok, 6, 5, 3, SampleFormat::Float32, "", 1},
    {"graxpert/mono_16bit.fits", ReadStatus::Ok, 6, 5, 1, SampleFormat::Int16, "", 1},
    {"graxpert/mono_32bit.fits", ReadStatus::Ok, 6, 5, 1, SampleFormat::Float32, "", 1},
    {"nebulosa/Debayer.fits", ReadStatus::Ok, 256, 256, 1, SampleFormat::Int16, "RGGB", 1},
    {"nebulosa/Debayer.GRBG.fits", ReadStatus::Ok, 1920, 1080, 1, SampleFormat::UInt8, "GRBG", 1},
    {"nebulosa/Flower.fits", ReadStatus::Ok, 480, 361, 3, SampleFormat::UInt8, "", 1},
    {"nebulosa/HorseHead.fits", ReadStatus::Ok, 891, 893, 1, SampleFormat::Int16, "", 1},
    {"nebulosa/1.fits", ReadStatus::Ok, 1280, 1024, 1, SampleFormat::Int16, "", 1},
    {"nebulosa/STAR_FOCUS_1.fits", ReadStatus::Ok, 65, 85, 1, SampleFormat::Int16, "", 1},
    {"nebulosa/STAR_FOCUS_9.fits", ReadStatus::Ok, 65, 85, 1, SampleFormat::Int16, "", 1},
    {"nebulosa/NGC3344.Color.8.fits", ReadStatus::Ok, 256, 256, 4, SampleFormat::UInt8, "", 1},
    {"nebulosa/NGC3344.Color.F32.fits", ReadStatus::Ok, 256, 256, 4, SampleFormat::Float32, "", 1},
    {"nebulosa/NGC3344.Mono.8.fits", ReadStatus::Ok, 256, 256, 1, SampleFormat::UInt8, "", 1},
    {"nebulosa/NGC3344.Mono.16.fits", ReadStatus::Ok, 256, 256, 1, SampleFormat::Int16, "", 1},
    {"nebulosa/Color.F64.fits", ReadStatus::Ok, 8, 8, 4, SampleFormat::Float64, "", 1},
    {"nebulosa/Mono.32.fits", ReadStatus::Ok, 8, 8, 1, SampleFormat::Int32, "", 1},
    // Five equal IMAGE extensions (SCI, ERR, DQ, SAMP, TIME): the first wins.
    {"fitsrs/HST_NICMOS.fits", ReadStatus::Ok, 270, 263, 1, SampleFormat::Float32, "", 5},
    {"fitsrs/HST_WFPC_II.fits", ReadStatus::Ok, 200, 200, 4, SampleFormat::Float32, "", 1},
    {"fitsrs/HST_WFPC_II_bis.fits", ReadStatus::Ok, 100, 100, 1, SampleFormat::Float32, "", 1},
    {"fitsrs/HST_FOS.fits", ReadStatus::Ok, 2064, 2, 1, SampleFormat::Float32, "", 1},
    // Its bytes were corrupted (the samples are noise); what follows the data starts no extension.
    {"fitsrs/Astro_UIT.fits", ReadStatus::Ok, 512, 512, 1, SampleFormat::Int16, "", 1},
    // A binary table and no image.
    {"fitsrs/IUE_LWP.fits", ReadStatus::Unsupported, 0, 0, 0, SampleFormat::None, "", 0},
};

void PrintTo(const ExternalCase& c, std::ostream* out) {
    *out << c.path;
}

class ExternalFits : public ::testing::TestWithParam<ExternalCase> {};

std::filesystem::path externalPath(const char* relative) {
    return std::filesystem::path(CORVANE_EXTERNAL_TESTDATA) / relative;
}

TEST_P(ExternalFits, ReadsAsTheRulesSay) {
    const ExternalCase& c = GetParam();
    const auto path = externalPath(c.path);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not here";
    auto reader = cv::FileReader::open(path.string());
    ASSERT_NE(reader, nullptr);
    cv::ImageData data;
    const auto status = cv::readImageHeader(*reader, data);
    ASSERT_EQ(status, c.status) << cv::readStatusName(status);
    if (status != ReadStatus::Ok) return;
    EXPECT_EQ(data.kind, cv::FileKind::Fits);
    EXPECT_EQ(data.image.width, c.width);
    EXPECT_EQ(data.image.height, c.height);
    EXPECT_EQ(data.image.channels, c.channels);
    EXPECT_EQ(data.image.sampleFormat, c.format);
    // The four-plane nebulosa files are PixInsight's colour with alpha; HST's are four chips.
    const bool colour =
        c.channels == 3 || (c.channels == 4 && std::string_view(c.path).starts_with("nebulosa/"));
    EXPECT_EQ(data.image.colorSpace, colour ? cv::ColorSpace::RGB : cv::ColorSpace::Gray);
    EXPECT_EQ(data.cfaPattern, c.cfa);
    EXPECT_EQ(data.imageCount, c.imageCount);
    EXPECT_EQ(data.image.position % 2880, 0u);
    EXPECT_LE(data.image.position + data.image.size, reader->size());
}

INSTANTIATE_TEST_SUITE_P(RealFiles, ExternalFits, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return cvtest::testNameOf(param.param.path); });

class ExternalFitsMetadata : public ::testing::Test {
protected:
    // The status of reading a real file's header; nothing when the file is not here.
    std::optional<ReadStatus> readHeader(const char* relative) {
        const auto path = externalPath(relative);
        if (!std::filesystem::exists(path)) return std::nullopt;
        auto reader = cv::FileReader::open(path.string());
        return reader ? cv::readImageHeader(*reader, data) : ReadStatus::ReadFailed;
    }
    cv::ImageData data;
};

TEST_F(ExternalFitsMetadata, SpaceTelescopeExtensionInheritsThePrimaryObservation) {
    const auto status = readHeader("fitsrs/HST_NICMOS.fits");
    if (!status) GTEST_SKIP() << "not here";
    ASSERT_EQ(*status, ReadStatus::Ok);
    EXPECT_EQ(cv::keywordValue(data, "EXTNAME"), "SCI");
    EXPECT_EQ(cv::keywordValue(data, "TELESCOP"), "HST");
    EXPECT_EQ(cv::keywordValue(data, "INSTRUME"), "NICMOS");
    EXPECT_EQ(cv::keywordValue(data, "FILTER"), "F222M");
    EXPECT_EQ(cv::keywordValue(data, "DATE-OBS"), "1998-05-22");
    EXPECT_EQ(cv::keywordValue(data, "EXPTIME"), "63.96434");
    EXPECT_EQ(data.keywords.front().name, "XTENSION");
}

TEST_F(ExternalFitsMetadata, IndiBayerFrameHasUnsignedSixteenBitNormalisation) {
    const auto status = readHeader("nebulosa/Debayer.fits");
    if (!status) GTEST_SKIP() << "not here";
    ASSERT_EQ(*status, ReadStatus::Ok);
    EXPECT_EQ(data.image.scale, static_cast<float>(1.0 / 65535.0));
    EXPECT_EQ(data.image.offset, static_cast<float>(32768.0 / 65535.0));
    EXPECT_EQ(cv::keywordValue(data, "INSTRUME"), "CCD Simulator");
}

}  // namespace
