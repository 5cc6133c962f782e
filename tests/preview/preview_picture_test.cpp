// The preview's two passes: the embedded thumbnail as a fallback and as the
// larger picture, the full render otherwise.
#include "preview/preview_picture.h"

#include <gtest/gtest.h>

#include "samples/xisf_writer.h"
#include "support/test_readers.h"

namespace {

cvsamples::XisfBlock grayBlock(std::uint64_t width, std::uint64_t height, char byte) {
    cvsamples::XisfBlock block;
    block.width = width;
    block.height = height;
    block.sampleFormat = "UInt8";
    block.samples.assign(width * height, byte);
    for (std::size_t i = 0; i < block.samples.size(); i += 7)
        block.samples[i] = static_cast<char>(byte + 9);
    return block;
}

struct Case {
    const char* what;
    std::uint64_t mainWidth;
    const char* mainCodec;
    bool damageMain;
    std::uint32_t expectedWidth;
};

TEST(LoadPreviewPicture, KeepsTheGoodPictureWithMorePixels) {
    const Case cases[] = {
        {"full render larger than the thumbnail", 1200, "", false, 1200},
        {"thumbnail larger than the image", 200, "", false, 400},
        {"full render fails, the thumbnail stays", 1200, "zlib", true, 400},
    };
    for (const Case& c : cases) {
        cvsamples::XisfBlock main = grayBlock(c.mainWidth, c.mainWidth * 3 / 4, '\x30');
        main.codec = c.mainCodec;
        const cvsamples::XisfBlock thumbnail = grayBlock(400, 300, '\x50');
        cvsamples::XisfWriter writer;
        writer.addImage(main, "<Property id='Instrument:ExposureTime' type='Float32' value='30'/>",
                        &thumbnail);
        std::string bytes = writer.bytes();
        if (c.damageMain) {
            // The main image's location is the header's first "attachment:position:size".
            const std::size_t position = std::stoull(bytes.substr(bytes.find("attachment:") + 11));
            for (std::size_t i = position; i < position + 16; ++i)
                bytes[i] = static_cast<char>(~bytes[i]);
        }
        cvtest::BytesReader reader(bytes);
        cv::PreviewPicture result;
        ASSERT_EQ(cv::loadPreviewPicture(reader, cv::RenderSettings{}, nullptr, result),
                  cv::ReadStatus::Ok)
            << c.what;
        EXPECT_EQ(result.picture.width, c.expectedWidth) << c.what;
        EXPECT_EQ(result.metadata.exposureTime, 30.0) << c.what;
    }
}

TEST(LoadPreviewPicture, GivesNothingForAnUnreadableFileOrACancelledLoad) {
    cvtest::BytesReader garbage(std::string(4096, 'x'));
    cv::PreviewPicture result;
    EXPECT_NE(cv::loadPreviewPicture(garbage, cv::RenderSettings{}, nullptr, result),
              cv::ReadStatus::Ok);
    EXPECT_TRUE(result.picture.empty());

    cvsamples::XisfWriter writer;
    writer.addImage(grayBlock(640, 480, '\x30'));
    cvtest::BytesReader reader(writer.bytes());
    const std::atomic<bool> cancelled{true};
    EXPECT_EQ(cv::loadPreviewPicture(reader, cv::RenderSettings{}, &cancelled, result),
              cv::ReadStatus::Cancelled);
    EXPECT_TRUE(result.picture.empty());
}

}  // namespace
