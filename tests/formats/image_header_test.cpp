#include "formats/image_header.h"

#include <gtest/gtest.h>

#include "support/fits_builder.h"
#include "support/test_readers.h"

namespace {

using cvtest::BytesReader;

std::string simpleCard(const char* value) {
    std::string card = std::string("SIMPLE  = ") + value;
    card.resize(80, ' ');
    return card;
}

std::string padded(std::string bytes, std::size_t size) {
    bytes.resize(size, ' ');
    return bytes;
}

struct DetectionCase {
    const char* name;
    std::string bytes;
    cv::ReadStatus status;
    cv::FileKind kind;
};

TEST(ReadImageHeader, RecognisesFilesByTheirFirstBytes) {
    const std::string fits = cvtest::primaryImage(8, 8);
    const DetectionCase cases[] = {
        {"a FITS image", fits, cv::ReadStatus::Ok, cv::FileKind::Fits},
        {"15 bytes starting XISF0100 are not XISF", "XISF0100abcdefg",
         cv::ReadStatus::NotRecognized, cv::FileKind::Unknown},
        {"2879 bytes with a SIMPLE card are not FITS", padded(simpleCard("T"), 2879),
         cv::ReadStatus::NotRecognized, cv::FileKind::Unknown},
        {"SIMPLE = F is not FITS", padded(simpleCard("F"), 2880), cv::ReadStatus::NotRecognized,
         cv::FileKind::Unknown},
        {"a two-letter SIMPLE value is not FITS", padded(simpleCard("TT"), 2880),
         cv::ReadStatus::NotRecognized, cv::FileKind::Unknown},
        {"a Garmin activity file",
         padded(std::string("\x0e\x10\x43\x08\x00\x00\x00\x00.FIT", 12), 4000),
         cv::ReadStatus::NotRecognized, cv::FileKind::Unknown},
        {"an empty file", "", cv::ReadStatus::NotRecognized, cv::FileKind::Unknown},
    };
    for (const auto& c : cases) {
        BytesReader reader(c.bytes);
        cv::ImageData data;
        EXPECT_EQ(cv::readImageHeader(reader, data), c.status) << c.name;
        EXPECT_EQ(data.kind, c.kind) << c.name;
    }
}

TEST(ReadImageHeader, ResetsTheRecordEvenWhenNothingIsRecognised) {
    BytesReader reader(std::string(100, 'x'));
    cv::ImageData data;
    data.kind = cv::FileKind::Fits;
    data.keywords.push_back({"OBJECT", "'M 42'", ""});
    data.image.width = 9;
    EXPECT_EQ(cv::readImageHeader(reader, data), cv::ReadStatus::NotRecognized);
    EXPECT_EQ(data.kind, cv::FileKind::Unknown);
    EXPECT_TRUE(data.keywords.empty());
    EXPECT_EQ(data.image.width, 0u);
}

TEST(ReadImageHeader, TriesXisfBeforeFits) {
    // A FITS header overwritten with the XISF signature is not read as FITS.
    std::string bytes = cvtest::primaryImage(8, 8);
    bytes.replace(0, 8, "XISF0100");
    BytesReader reader(bytes);
    cv::ImageData data;
    EXPECT_NE(cv::readImageHeader(reader, data), cv::ReadStatus::Ok);
    EXPECT_EQ(data.kind, cv::FileKind::Xisf) << "read as XISF, whose header then makes no sense";
}

}  // namespace
