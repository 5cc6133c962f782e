#include "metadata/metadata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "core/file_reader.h"
#include "formats/image_header.h"

namespace {

cv::ImageData withKeywords(std::initializer_list<std::pair<const char*, const char*>> keywords) {
    cv::ImageData data;
    for (const auto& [name, value] : keywords) data.keywords.push_back({name, value, ""});
    return data;
}

TEST(ExtractMetadata, PrefersPropertiesThenEarlierKeywords) {
    cv::ImageData both = withKeywords({{"OBJECT", "'M 31    '"}, {"OBJNAME", "'Andromeda'"}});
    EXPECT_EQ(cv::extractMetadata(both).objectName, "Andromeda");
    EXPECT_EQ(cv::extractMetadata(withKeywords({{"OBJECT", "'M 31    '"}})).objectName, "M 31");
    both.properties.push_back({"Observation:Object:Name", "String", "NGC 224"});
    EXPECT_EQ(cv::extractMetadata(both).objectName, "NGC 224");
    both.properties.front().value.clear();
    EXPECT_EQ(cv::extractMetadata(both).objectName, "Andromeda")
        << "an empty property counts as absent";
}

TEST(ExtractMetadata, ReadsNumbersStrictlyAndFallsBackToLaterRows) {
    const auto m = cv::extractMetadata(withKeywords({{"EXPTIME", "'300 s'"},
                                                     {"EXPOSURE", " 120 "},
                                                     {"XBINNING", "1.6"},
                                                     {"OFFSET", "-1"},
                                                     {"BLKLEVEL", "4294967294"},
                                                     {"GAIN", "1,5"}}));
    EXPECT_EQ(m.exposureTime, 120.0);
    EXPECT_EQ(m.binningX, 2u) << "whole numbers round";
    EXPECT_EQ(m.offset, 4294967294u) << "a negative OFFSET is refused and BLKLEVEL taken";
    EXPECT_FALSE(m.gain.has_value());
}

TEST(ExtractMetadata, TakesNoNonFiniteNumberSoALaterSourceFillsTheField) {
    cv::ImageData data = withKeywords({{"RA", "'nan'"},
                                       {"OBJCTRA", "'01 00 00'"},
                                       {"DEC", "inf"},
                                       {"OBJCTDEC", "'+10 30 00'"},
                                       {"EXPTIME", "nan"},
                                       {"EXPOSURE", "120"},
                                       {"FOCALLEN", "1e999"}});
    data.properties.push_back(
        {"Instrument:Telescope:FocalLength", "Float64", "1e306"});  // metres: 1e309 mm
    const auto m = cv::extractMetadata(data);
    EXPECT_EQ(m.rightAscension, 15.0);
    EXPECT_EQ(m.declination, 10.5);
    EXPECT_EQ(m.exposureTime, 120.0);
    EXPECT_FALSE(m.focalLength.has_value());
}

TEST(ExtractMetadata, ConvertsXisfOpticsFromMetres) {
    cv::ImageData data;
    data.properties.push_back({"Instrument:Telescope:FocalLength", "Float32", "0.75"});
    data.properties.push_back({"Instrument:Telescope:Aperture", "Float32", "0.107"});
    const auto m = cv::extractMetadata(data);
    EXPECT_DOUBLE_EQ(*m.focalLength, 750.0);
    EXPECT_DOUBLE_EQ(*m.aperture, 107.0);
}

struct CoordinateCase {
    std::vector<std::pair<const char*, const char*>> keywords;
    std::optional<double> ra;
    std::optional<double> dec;
};

TEST(ExtractMetadata, ReadsCoordinatesInHoursOrDegrees) {
    const CoordinateCase cases[] = {
        {{{"RA", "'12 30 00'"}}, 187.5, std::nullopt},
        {{{"RA", "187.5"}}, 187.5, std::nullopt},
        {{{"RA", "-10"}}, 350.0, std::nullopt},
        {{{"RA", "400"}, {"OBJCTRA", "'01 00 00'"}}, 15.0, std::nullopt},
        {{{"OBJCTRA", "187.5"}}, std::nullopt, std::nullopt},
        {{{"DEC", "'-05 30 00'"}}, std::nullopt, -5.5},
        {{{"DEC", "95"}, {"OBJCTDEC", "'+10:30'"}}, std::nullopt, 10.5},
        {{{"RA", "'-01:00:00'"}}, 345.0, std::nullopt},
    };
    for (const auto& c : cases) {
        cv::ImageData data;
        for (const auto& [name, value] : c.keywords) data.keywords.push_back({name, value, ""});
        const auto m = cv::extractMetadata(data);
        EXPECT_EQ(m.rightAscension, c.ra)
            << c.keywords.front().first << "=" << c.keywords.front().second;
        EXPECT_EQ(m.declination, c.dec)
            << c.keywords.front().first << "=" << c.keywords.front().second;
    }
}

TEST(ParseSexagesimal, AcceptsSeparatorsAndOneSign) {
    EXPECT_EQ(cv::parseSexagesimal("12 30 00"), 12.5);
    EXPECT_EQ(cv::parseSexagesimal("12:30:00"), 12.5);
    EXPECT_EQ(cv::parseSexagesimal("12.5"), 12.5);
    EXPECT_EQ(cv::parseSexagesimal("-05 30"), -5.5);
    EXPECT_EQ(cv::parseSexagesimal("+1 0 0 99"), 1.0) << "a fourth component is ignored";
    EXPECT_FALSE(cv::parseSexagesimal("").has_value());
    EXPECT_FALSE(cv::parseSexagesimal("-").has_value());
    EXPECT_FALSE(cv::parseSexagesimal("12h30m").has_value());
}

TEST(NormalizeFrameType, MatchesTheFirstWordFound) {
    const std::pair<const char*, const char*> cases[] = {
        {"Light Frame", "Light"}, {"FLATDARK", "DarkFlat"},     {"Dark Flat", "Dark"},
        {"Zero", "Bias"},         {"Calibrated", "Calibrated"}, {"science", "Light"},
        {"Flat Field", "Flat"},   {"master bias", "Bias"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(cv::normalizeFrameType(text), expected) << text;
}

TEST(NightDate, BelongsToTheEveningTheNightBegan) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"2023-05-10T22:05:00", "2023-05-10"}, {"2023-05-10T03:12:00", "2023-05-09"},
        {"2023-01-01T01:00:00", "2022-12-31"}, {"2024-03-01T02:00:00", "2024-02-29"},
        {"2023-03-01 02:00:00", "2023-02-28"}, {"2023-05-10", "2023-05-09"},
        {"2023-5-10", std::nullopt},           {"2023-13-01T20:00:00", std::nullopt},
        {"1900-03-01T01:00:00", "1900-02-28"}, {"2000-03-01T01:00:00", "2000-02-29"},
        {"40e8-03-02T20:00:00", std::nullopt},  // a number, but no year (found by fuzzing)
    };
    for (const auto& [timestamp, expected] : cases)
        EXPECT_EQ(cv::nightDateFromTimestamp(timestamp), expected) << timestamp;
}

TEST(ExtractMetadata, DerivesTheImageScale) {
    auto scale = [](std::initializer_list<std::pair<const char*, const char*>> keywords) {
        return cv::extractMetadata(withKeywords(keywords)).imageScale;
    };
    EXPECT_NEAR(*scale({{"XPIXSZ", "3.76"}, {"XBINNING", "2"}, {"FOCALLEN", "500"}}), 3.1022, 5e-5);
    EXPECT_NEAR(*scale({{"XPIXSZ", "3.76"}, {"FOCALLEN", "500"}}), 1.5511, 5e-5);
    EXPECT_FALSE(scale({{"XPIXSZ", "3.76"}, {"FOCALLEN", "0"}}).has_value());
}

TEST(DisplayTexts, FormatBinningAndCoordinates) {
    EXPECT_EQ(cv::formatBinning(cv::extractMetadata(withKeywords({{"BINNING", "2"}}))), "2x2");
    EXPECT_EQ(cv::formatBinning(
                  cv::extractMetadata(withKeywords({{"XBINNING", "1"}, {"YBINNING", "2"}}))),
              "1x2");
    EXPECT_EQ(cv::formatBinning(cv::extractMetadata(withKeywords({{"YBINNING", "2"}}))), "1x2");
    EXPECT_EQ(cv::formatBinning(cv::ImageMetadata{}), "");
    cv::ImageMetadata m;
    m.declination = -0.5;
    m.rightAscension = -15.0;
    EXPECT_EQ(cv::formatDeclination(m), "-00 30 00.0");
    EXPECT_EQ(cv::formatRightAscension(m), "23 00 00.00");
    m.width = 6000;
    m.height = 4000;
    EXPECT_EQ(cv::formatDimensions(m), "6000 x 4000");
    m.rightAscension = 1e300;  // an XISF property is not range-checked
    m.declination = std::nan("");
    EXPECT_EQ(cv::formatRightAscension(m), "");
    EXPECT_EQ(cv::formatDeclination(m), "");
}

TEST(ExtractMetadata, DescribesTheImageAndItsCompression) {
    cv::ImageData data;
    data.kind = cv::FileKind::Xisf;
    data.image.width = 200;
    data.image.height = 100;
    data.image.channels = 3;
    data.image.sampleFormat = cv::SampleFormat::UInt16;
    data.image.colorSpace = cv::ColorSpace::RGB;
    data.image.codec = cv::Codec::Zstd;
    data.image.byteShuffled = true;
    data.imageCount = 2;
    data.keywords.push_back({"BAYERPAT", "'rggb'", ""});
    auto m = cv::extractMetadata(data);
    EXPECT_EQ(m.compression, "zstd+sh");
    EXPECT_EQ(m.bitsPerSample, 16u);
    EXPECT_EQ(m.sampleFormat, "UInt16");
    EXPECT_EQ(m.colorSpace, "RGB");
    EXPECT_EQ(m.formatName, "XISF");
    EXPECT_EQ(m.imageCount, 2u);
    EXPECT_EQ(m.bayerPattern, "RGGB");
    data.image.codec = cv::Codec::None;
    data.cfaPattern = "GBRG";
    m = cv::extractMetadata(data);
    EXPECT_EQ(m.compression, "none") << "shuffling without a codec is no compression";
    EXPECT_EQ(m.bayerPattern, "GBRG");
}

std::optional<cv::ImageMetadata> realMetadata(const char* relative) {
    const auto path = std::filesystem::path(CORVANE_EXTERNAL_TESTDATA) / relative;
    if (!std::filesystem::exists(path)) return std::nullopt;
    auto reader = cv::FileReader::open(path.string());
    cv::ImageData data;
    EXPECT_EQ(cv::readImageHeader(*reader, data), cv::ReadStatus::Ok) << relative;
    return cv::extractMetadata(data);
}

TEST(ExtractMetadata, ReadsRealCaptureHeaders) {
    const auto svbony = realMetadata("nebulosa/Debayer.GRBG.fits");
    if (!svbony) GTEST_SKIP() << "not here";
    EXPECT_EQ(svbony->camera, "SVBONY SV305 0");
    EXPECT_EQ(svbony->bayerPattern, "GRBG");
    EXPECT_TRUE(svbony->exposureTime.has_value());
    EXPECT_EQ(svbony->width, 1920u);

    // PixInsight's XISF with an INDI simulator's keywords.
    const auto indi = realMetadata("wrenby-xisf/test.xisf");
    ASSERT_TRUE(indi.has_value());
    EXPECT_EQ(indi->camera, "CCD Simulator");
    EXPECT_EQ(indi->filter, "Red");
    EXPECT_EQ(indi->imageType, "Light");
    EXPECT_EQ(indi->focalLength, 800.0);
    EXPECT_EQ(cv::formatRightAscension(*indi), "23 57 19.63");
    EXPECT_EQ(cv::formatDeclination(*indi), "+89 52 16.6");
    EXPECT_NEAR(*indi->imageScale, 1.3407, 1e-4);

    // PHD2 writes EXPOSURE rather than EXPTIME.
    const auto phd2 = realMetadata("nebulosa/1.fits");
    ASSERT_TRUE(phd2.has_value());
    EXPECT_EQ(phd2->exposureTime, 2.0);
    EXPECT_EQ(phd2->nightDate, "2023-01-10") << "03:51 belongs to the night before";
}

}  // namespace
