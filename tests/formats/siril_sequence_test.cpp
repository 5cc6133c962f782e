#include "formats/siril_sequence.h"
#include "preview/sequence_listing.h"  // the note of a file cut short

#include <gtest/gtest.h>

#include "samples/text_samples.h"
#include "support/test_readers.h"

namespace {

using cv::ReadStatus;

struct Parsed {
    ReadStatus status;
    cv::SequenceInfo info;
};

Parsed parse(const std::string& text) {
    cvtest::BytesReader reader(text);
    Parsed parsed;
    parsed.status = cv::parseSequence(reader, parsed.info);
    return parsed;
}

bool recognised(const std::string& text) {
    cvtest::BytesReader reader(text);
    return cv::isSirilSequence(reader);
}

TEST(SirilSequence, RecognisesTheCommentOrAFirstHeaderLine) {
    EXPECT_TRUE(recognised("#Siril sequence file. Contains list of files\nS 'a' 1 0 0 5 0 4\n"));
    EXPECT_TRUE(recognised("\xEF\xBB\xBF# other comment\r\n\r\nS 'light_' 1 2 2 5 0 4\n"));
    EXPECT_FALSE(recognised("# comment\nT A\nS 'x' 1 0 0\n"))
        << "the first non-comment line must be the S line";
    EXPECT_FALSE(recognised("# only comments\n# and more\n"));
    EXPECT_FALSE(recognised("S '"));
    EXPECT_FALSE(recognised("SIMPLE  =                    T"));
}

TEST(SirilSequence, ReadsHeaderTypeLayersAndImages) {
    const auto parsed = parse(
        "S 'light_' 1 0 3 5 0 4 0 0\nTF\nL 3\nI 1 1\nI 7 0\nI 8\nI 9 maybe\nI 10 99999999999\n");
    ASSERT_EQ(parsed.status, ReadStatus::Ok);
    const auto& info = parsed.info;
    EXPECT_EQ(info.name, "light_");
    EXPECT_EQ(info.declaredFrames, 0);
    EXPECT_EQ(info.selectedFrames, 3);
    EXPECT_EQ(info.version, 4);
    EXPECT_EQ(info.typeLetter, 'F');
    EXPECT_EQ(info.layerCount, 3);
    ASSERT_EQ(info.images.size(), 5u);
    EXPECT_EQ(cv::frameCount(info), 5u) << "no declared count: the image lines count";
    EXPECT_FALSE(info.images[1].selected) << "image 7 with 0 is excluded";
    EXPECT_TRUE(info.images[2].selected) << "no third token";
    EXPECT_TRUE(info.images[3].selected) << "a third token that is not a number";
    EXPECT_TRUE(info.images[4].selected) << "a third token too wide for 32 bits";
    EXPECT_STREQ(cv::sequenceTypeName(info), "FITS cube");
}

TEST(SirilSequence, NeedsAUsableHeaderLine) {
    EXPECT_EQ(parse("S 'unclosed 1 2 3\nI 1 1\n").status, ReadStatus::Malformed);
    EXPECT_EQ(parse("").status, ReadStatus::NotRecognized);
    EXPECT_EQ(parse("not a sequence\n").status, ReadStatus::NotRecognized);
    const auto parsed = parse("S 'a' x -5 -2 5 0 99999999999\n");
    ASSERT_EQ(parsed.status, ReadStatus::Ok);
    EXPECT_EQ(parsed.info.declaredFrames, 0) << "negative counts are 0";
    EXPECT_EQ(parsed.info.selectedFrames, 0);
    EXPECT_EQ(parsed.info.version, 0) << "too wide for 32 bits";
}

TEST(SirilSequence, RefusesFilesAboveSixteenMegabytesUnread) {
    std::string big = "S 'a' 1 0 0 5 0 4\n";
    big.resize(0x1000001, '#');
    EXPECT_EQ(parse(big).status, ReadStatus::TooLarge);
}

TEST(SirilSequence, MergesTheBestFilledRegistrationLayer) {
    std::string text = cvsamples::sirilSequence(4, 0, '2');
    text += "R0 0 0 0 0 0 0\nR0 2.5 2.4 0.9 0 0.01 100\n";  // one entry with stars on layer 0
    const auto parsed = parse(text);
    ASSERT_EQ(parsed.status, ReadStatus::Ok);
    EXPECT_EQ(parsed.info.registrationLayer, 2);
    EXPECT_TRUE(cv::isRegistered(parsed.info));
    EXPECT_TRUE(parsed.info.images[3].registered);
    EXPECT_GT(parsed.info.images[0].fwhm, 2.0);

    const auto old = parse(cvsamples::sirilSequence(4, 0, '0', 3));
    EXPECT_EQ(old.info.registrationLayer, cv::kOldRegistrationFormat);
    EXPECT_FALSE(cv::isRegistered(old.info));
    EXPECT_FALSE(cv::medianFwhm(old.info).has_value());

    const auto tie = parse("S 'a' 1 2 2 5 0 4\nI 1 1\nI 2 1\nR1 2 2 1 0 0 10\nR0 3 3 1 0 0 10\n");
    EXPECT_EQ(tie.info.registrationLayer, 0) << "equal counts: the lower layer";
    EXPECT_EQ(tie.info.images[0].fwhm, 3.0);
}

TEST(SirilSequence, BadRegistrationLinesStayInStepAsZeros) {
    const auto parsed = parse(
        "S 'a' 1 3 3 5 0 4\nI 1 1\nI 2 1\nI 3 1\nR0 2 2 1 0 0 10\nR0 nan 1 1 0 0 1\nR0 3 3 1 0 0 "
        "12\n");
    ASSERT_EQ(parsed.status, ReadStatus::Ok);
    EXPECT_TRUE(parsed.info.images[0].registered);
    EXPECT_FALSE(parsed.info.images[1].registered);
    EXPECT_EQ(parsed.info.images[2].fwhm, 3.0);
    EXPECT_EQ(cv::medianFwhm(parsed.info), 2.5) << "the mean of the two middle values";
}

TEST(SirilSequence, ReadsStatisticsByImageIndex) {
    const auto parsed = parse(
        "S 'a' 1 6 6 5 0 4\nI 1\nI 2\nI 3\nI 4\nI 5\nI 6\n"
        "M0-5 1 2 3 0.25 5 6 7 8 9 10 11 12 13 0.01\n"
        "M0-4 1 2 3 -999999 5 6 7 8 9 10 11 12 13 0.02\n"
        "M0-3 1 2 3 0.5\n");
    ASSERT_EQ(parsed.status, ReadStatus::Ok);
    const auto& images = parsed.info.images;
    EXPECT_FALSE(images[0].hasMedian);
    EXPECT_TRUE(images[5].hasMedian);
    EXPECT_EQ(images[5].median, 0.25);
    EXPECT_EQ(images[5].noise, 0.01);
    EXPECT_FALSE(images[4].hasMedian) << "Siril's marker for 'not computed'";
    EXPECT_TRUE(images[4].hasNoise);
    EXPECT_FALSE(images[3].hasMedian) << "fewer than 15 tokens";
}

TEST(SirilSequence, MarksFilesWithTooManyImagesAsTruncated) {
    std::string text = "S 'big' 1 0 0 5 0 4\n";
    text.reserve(100005 * 8);
    for (int i = 0; i < 100005; ++i) text += "I 1 1\n";
    const auto parsed = parse(text);
    ASSERT_EQ(parsed.status, ReadStatus::Ok);
    EXPECT_TRUE(parsed.info.truncated);
    EXPECT_EQ(parsed.info.images.size(), 100000u);
    EXPECT_NE(cv::sequenceReport(parsed.info).find("The file is larger than can be shown in full"),
              std::string::npos);
}

}  // namespace
