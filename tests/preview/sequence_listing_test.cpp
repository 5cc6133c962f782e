#include "preview/sequence_listing.h"

#include <gtest/gtest.h>

#include "core/utf16.h"
#include "samples/text_samples.h"
#include "support/test_readers.h"

namespace {

cv::SequenceInfo parsed(const std::string& text) {
    cvtest::BytesReader reader(text);
    cv::SequenceInfo info;
    EXPECT_EQ(cv::parseSequence(reader, info), cv::ReadStatus::Ok);
    return info;
}

TEST(SequenceListing, ReportListsQualityExclusionsAndTable) {
    const cv::SequenceInfo info = parsed(
        "S 'a' 1 3 2 5 0 4\nL 1\nI 1 1\nI 2 0\nI 3 1\nR0 2.5 2.4 0.9 0 0.01 100\nR0 3 3 1 0 0.02 "
        "120\n"
        "R0 2 1.9 0.8 0 0.015 140\n");
    const std::string expected =
        "FWHM of selected frames: median 2.25, best 2.00 (frame 3), worst 2.50 (frame 1)\r\n"
        "Stars in selected frames: median 120\r\n"
        "Excluded frame: 2\r\n"
        "\r\n"
        "Frame  Used    FWHM   wFWHM   Round   Stars   Background\r\n"
        "    1   yes    2.50    2.40    0.90     100         0.01\r\n"
        "    2    no    3.00    3.00    1.00     120         0.02\r\n"
        "    3   yes    2.00    1.90    0.80     140        0.015\r\n";
    EXPECT_EQ(cv::sequenceReport(info), expected);
}

TEST(SequenceListing, ReportBoundsExclusionsAndRows) {
    std::string text = "S 'a' 1 0 0 5 0 4\n";
    for (int i = 0; i < 5001; ++i) text += "I " + std::to_string(i) + (i < 31 ? " 0\n" : " 1\n");
    const std::string report = cv::sequenceReport(parsed(text));
    EXPECT_NE(report.find("Excluded frames: 0, 1, 2"), std::string::npos);
    EXPECT_NE(report.find(", 29, and 1 more\r\n"), std::string::npos);
    EXPECT_NE(report.find(" 4999   yes\r\n... and 1 more frames\r\n"), std::string::npos);
    EXPECT_EQ(report.find(" 5000   yes"), std::string::npos);
}

TEST(SequenceListing, ListingHasTitleSubtitleAndNote) {
    cvtest::BytesReader reader(cvsamples::sirilSequence(1, 0, 0) + "TS\n");
    const auto listing = cv::buildSequenceListing(reader);
    ASSERT_TRUE(listing.has_value());
    EXPECT_EQ(cv::utf8FromUtf16(listing->title), "1 frame, 1 selected");
    EXPECT_EQ(cv::utf8FromUtf16(listing->subtitle), "SER video, mono, not registered");
    EXPECT_EQ(cv::utf8FromUtf16(listing->note), "Siril sequence, format version 4: light_");
    EXPECT_FALSE(listing->wrapLines);
    cvtest::BytesReader registered(cvsamples::sirilSequence(12, 5, '0'));
    EXPECT_EQ(cv::utf8FromUtf16(cv::buildSequenceListing(registered)->subtitle),
              "FITS files, mono, registered, median FWHM 2.23");
    cvtest::BytesReader hostile("S 'a' 1 1 1 5 0 4\nI 1 1\nR0 1e300 1 1 0 0 5\n");
    const auto huge = cv::buildSequenceListing(hostile);
    ASSERT_TRUE(huge.has_value());
    EXPECT_LE(huge->subtitle.size(), 300u) << "a hostile median is cut, not a crash";
}

}  // namespace
