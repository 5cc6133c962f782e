// Signed and narrow-range integer data: drawn as the unsigned type of the
// same width would draw the same values, and never flat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "formats/image_header.h"
#include "render/render_profiles.h"
#include "support/generated_samples.h"
#include "samples/fits_writer.h"
#include "samples/xisf_writer.h"
#include "support/test_readers.h"

namespace {

cv::RgbImage thumbnailOf(const std::string& bytes) {
    cvtest::BytesReader reader(bytes);
    cv::ImageData data;
    cv::RgbImage image;
    EXPECT_EQ(cv::readImageHeader(reader, data), cv::ReadStatus::Ok);
    cv::RenderBudget budget = cv::thumbnailBudget();
    EXPECT_EQ(cv::renderImage(reader, data, cv::thumbnailOptions(256, cv::RenderSettings{}), budget,
                              image),
              cv::ReadStatus::Ok);
    return image;
}

// The physical values of a signed FITS image (integral BSCALE and BZERO),
// stored as XISF's unsigned type of the same width.
std::string unsignedTwin(const std::string& fits) {
    cvtest::BytesReader reader(fits);
    cv::ImageData data;
    EXPECT_EQ(cv::readImageHeader(reader, data), cv::ReadStatus::Ok);
    const cv::ImageBlock& image = data.image;
    const std::uint32_t width = cv::bytesPerSample(image.sampleFormat);
    const std::uint64_t count = image.width * image.height;
    std::string twin(count * width, '\0');
    for (std::uint64_t i = 0; i < count; ++i) {
        std::int64_t raw =
            static_cast<signed char>(fits[image.position + i * width]);  // sign from the first byte
        for (std::uint32_t b = 1; b < width; ++b)
            raw = raw * 256 + static_cast<std::uint8_t>(fits[image.position + i * width + b]);
        const auto physical =
            static_cast<std::uint64_t>(raw * static_cast<std::int64_t>(image.physicalScale) +
                                       static_cast<std::int64_t>(image.physicalOffset));
        std::memcpy(twin.data() + i * width, &physical, width);  // little-endian, low bytes first
    }
    cvsamples::XisfBlock block;
    block.width = image.width;
    block.height = image.height;
    block.sampleFormat = width == 2 ? "UInt16" : width == 4 ? "UInt32" : "UInt64";
    block.samples = twin;
    cvsamples::XisfWriter writer;
    writer.addImage(block);
    return writer.bytes();
}

// The brightest pixels stand at least 100 levels above the background.
void expectStars(const cv::RgbImage& image, const std::string& name) {
    std::vector<std::uint8_t> grey;
    for (std::size_t i = 0; i < image.pixels.size(); i += 3) grey.push_back(image.pixels[i]);
    std::sort(grey.begin(), grey.end());
    EXPECT_GE(grey.back(), grey[grey.size() / 2] + 100)
        << name << ": median " << int{grey[grey.size() / 2]};
}

TEST(WorkingRange, SignedDataDrawAsTheirUnsignedTwinAndShowTheirStars) {
    for (const char* name : {"bitpix16-signed.fits", "bitpix16-bscale.fits",
                             "bitpix32-bscale-bzero.fits", "bitpix64-signed.fits"}) {
        const std::string bytes = cvtest::generatedSample(name);
        const cv::RgbImage picture = thumbnailOf(bytes);
        const cv::RgbImage twin = thumbnailOf(unsignedTwin(bytes));
        ASSERT_EQ(picture.pixels.size(), twin.pixels.size()) << name;
        for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
            ASSERT_LE(std::abs(picture.pixels[i] - twin.pixels[i]), 1) << name << ", byte " << i;
        }
        expectStars(picture, name);
    }
}

TEST(WorkingRange, NegativeNoiseAndNarrowRangesStillShowTheirStars) {
    for (const char* name : {"bitpix16-bias-subtracted.fits", "uint32-16bit-values.xisf"}) {
        expectStars(thumbnailOf(cvtest::generatedSample(name)), name);
    }
}

TEST(WorkingRange, AnAbsurdScaleDrawsWithoutHarm) {
    cvsamples::FitsHeader header = cvsamples::primaryImageHeader(16, {64, 48});
    header.real("BSCALE", 1e304);
    std::vector<std::int16_t> values(64 * 48);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<std::int16_t>(static_cast<int>(i % 7) - 3);
    const std::string bytes =
        header.bytes() + cvsamples::padData(cvsamples::bigEndianBytes(values));
    cvtest::BytesReader reader(bytes);
    cv::ImageData data;
    ASSERT_EQ(cv::readImageHeader(reader, data), cv::ReadStatus::Ok);
    cv::RenderBudget budget = cv::thumbnailBudget();
    cv::RgbImage image;
    EXPECT_EQ(cv::renderImage(reader, data, cv::thumbnailOptions(64, cv::RenderSettings{}), budget,
                              image),
              cv::ReadStatus::Ok);
}

}  // namespace
