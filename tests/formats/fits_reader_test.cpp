#include "formats/fits_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <numeric>

#include "formats/fits_card.h"
#include "support/fits_builder.h"
#include "support/test_names.h"
#include "support/test_readers.h"

namespace {

using cvsamples::FitsHeader;
using cvsamples::primaryImageHeader;
using cvtest::BytesReader;
using cvtest::extensionHeader;
using cvtest::hdu;

struct Result {
    cv::ReadStatus status;
    cv::ImageData data;
};

Result read(std::string bytes) {
    BytesReader reader(std::move(bytes));
    Result result;
    result.status = cv::readFits(reader, result.data);
    return result;
}

TEST(IsFits, AcceptsOnlyASimpleCardWithValueT) {
    struct Case {
        const char* card;
        bool expected;
    } cases[] = {
        {"SIMPLE  =                    T", true},
        {"SIMPLE  =                    t / lower case is accepted", true},
        {"SIMPLE  = T", true},
        {"SIMPLE  =                    F", false},
        {"SIMPLE  =                   TT", false},
        {"SIMPLE  =T", false},
        {"SIMPLE =                     T", false},
        {"simple  =                    T", false},
    };
    for (const auto& c : cases) {
        std::string bytes = c.card;
        bytes.resize(2880, ' ');
        BytesReader reader(bytes);
        EXPECT_EQ(cv::isFits(reader), c.expected) << c.card;
    }
}

TEST(ReadFits, IsNotRecognisedBelowOneBlockOrWithoutSimple) {
    EXPECT_EQ(read(cvtest::primaryImage(8, 8).substr(0, 2879)).status,
              cv::ReadStatus::NotRecognized);
    EXPECT_EQ(read(hdu(extensionHeader("IMAGE", 8, {8, 8}), 64)).status,
              cv::ReadStatus::NotRecognized);
}

TEST(ReadFits, DescribesAPrimaryImage) {
    FitsHeader header = primaryImageHeader(16, {600, 400});
    header.real("BZERO", 32768.0).real("BSCALE", 1.0).text("OBJECT", "M 42");
    const auto result = read(hdu(header, 600 * 400 * 2));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    const auto& image = result.data.image;
    EXPECT_EQ(result.data.kind, cv::FileKind::Fits);
    EXPECT_EQ(image.width, 600u);
    EXPECT_EQ(image.height, 400u);
    EXPECT_EQ(image.channels, 1u);
    EXPECT_EQ(image.sampleFormat, cv::SampleFormat::Int16);
    EXPECT_EQ(image.colorSpace, cv::ColorSpace::Gray);
    EXPECT_TRUE(image.bigEndian);
    EXPECT_EQ(image.location, cv::DataLocation::Attachment);
    EXPECT_EQ(image.position, 2880u);
    EXPECT_EQ(image.size, 480000u);
    EXPECT_EQ(image.codec, cv::Codec::None);
    EXPECT_EQ(result.data.imageCount, 1u);
    EXPECT_EQ(result.data.headerLength, 2880u);
    EXPECT_FALSE(result.data.hasThumbnail);
    ASSERT_EQ(result.data.keywords.size(), 8u);
    EXPECT_EQ(result.data.keywords[7].name, "OBJECT");
    EXPECT_EQ(result.data.keywords[7].value, "'M 42    '") << "values keep their quotes";
}

struct NormalizationCase {
    const char* name;
    int bitpix;
    std::optional<double> bzero;
    std::optional<double> bscale;
    float scale;
    float offset;
};

TEST(ReadFits, NormalisesTheStoredRangeOntoZeroToOne) {
    const NormalizationCase cases[] = {
        {"unsigned 16-bit convention", 16, 32768.0, 1.0, static_cast<float>(1.0 / 65535.0),
         static_cast<float>(32768.0 / 65535.0)},
        {"plain signed 16-bit", 16, std::nullopt, std::nullopt, static_cast<float>(1.0 / 65535.0),
         static_cast<float>(32768.0 / 65535.0)},
        {"8-bit", 8, std::nullopt, std::nullopt, static_cast<float>(1.0 / 255.0), 0.0f},
        {"unsigned 32-bit convention", 32, 2147483648.0, 1.0,
         static_cast<float>(1.0 / 4294967295.0),
         static_cast<float>(4294967296.0 / 2 / 4294967295.0)},
        {"negative scale swaps the range", 16, 0.0, -1.0, static_cast<float>(-1.0 / 65535.0),
         static_cast<float>(32767.0 / 65535.0)},
        {"zero scale keeps the raw values", 16, 5.0, 0.0, 0.0f, 5.0f},
        {"floats keep BSCALE and BZERO", -32, 1.0, 2.0, 2.0f, 1.0f},
        {"doubles default to identity", -64, std::nullopt, std::nullopt, 1.0f, 0.0f},
        {"64-bit", 64, std::nullopt, std::nullopt, static_cast<float>(1.0 / 18446744073709551616.0),
         0.5f},
    };
    for (const auto& c : cases) {
        FitsHeader header = primaryImageHeader(c.bitpix, {4, 4});
        if (c.bzero) header.real("BZERO", *c.bzero);
        if (c.bscale) header.real("BSCALE", *c.bscale);
        const auto result = read(hdu(header, 4 * 4 * 8));
        ASSERT_EQ(result.status, cv::ReadStatus::Ok) << c.name;
        EXPECT_EQ(result.data.image.scale, c.scale) << c.name;
        EXPECT_EQ(result.data.image.offset, c.offset) << c.name;
    }
}

TEST(ReadFits, UnsignedSixteenBitNormalisationIsBitExact) {
    FitsHeader header = primaryImageHeader(16, {4, 4});
    header.real("BZERO", 32768.0).real("BSCALE", 1.0);
    const auto result = read(hdu(header, 32));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(result.data.image.scale), 0x37800080u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(result.data.image.offset), 0x3F000080u);
}

TEST(ReadFits, MapsBitpixToSampleFormats) {
    const std::pair<int, cv::SampleFormat> cases[] = {
        {8, cv::SampleFormat::UInt8},     {16, cv::SampleFormat::Int16},
        {32, cv::SampleFormat::Int32},    {64, cv::SampleFormat::Int64},
        {-32, cv::SampleFormat::Float32}, {-64, cv::SampleFormat::Float64},
    };
    for (const auto& [bitpix, format] : cases) {
        const auto result = read(hdu(primaryImageHeader(bitpix, {3, 2}), 3 * 2 * 8));
        ASSERT_EQ(result.status, cv::ReadStatus::Ok) << bitpix;
        EXPECT_EQ(result.data.image.sampleFormat, format) << bitpix;
    }
    EXPECT_EQ(read(hdu(primaryImageHeader(12, {3, 2}), 64)).status, cv::ReadStatus::Unsupported);
    EXPECT_EQ(read(hdu(primaryImageHeader(-16, {3, 2}), 64)).status, cv::ReadStatus::Unsupported);
}

struct GeometryCase {
    const char* name;
    std::vector<std::uint64_t> axes;
    cv::ReadStatus status;
    std::uint32_t channels;
    cv::ColorSpace colorSpace;
};

TEST(ReadFits, AcceptsImagesWithinTheGeometryLimits) {
    const GeometryCase cases[] = {
        {"RGB cube", {5, 4, 3}, cv::ReadStatus::Ok, 3, cv::ColorSpace::RGB},
        {"four planes are a stack", {5, 4, 4}, cv::ReadStatus::Ok, 4, cv::ColorSpace::Gray},
        {"two planes stay gray", {5, 4, 2}, cv::ReadStatus::Ok, 2, cv::ColorSpace::Gray},
        {"sixteen planes", {5, 4, 16}, cv::ReadStatus::Ok, 16, cv::ColorSpace::Gray},
        {"seventeen planes", {5, 4, 17}, cv::ReadStatus::Unsupported, 0, cv::ColorSpace::Gray},
        {"100000 wide", {100000, 1}, cv::ReadStatus::Ok, 1, cv::ColorSpace::Gray},
        {"100001 wide", {100001, 1}, cv::ReadStatus::Unsupported, 0, cv::ColorSpace::Gray},
        {"100001 high", {1, 100001}, cv::ReadStatus::Unsupported, 0, cv::ColorSpace::Gray},
        {"a spectrum is one axis", {5000}, cv::ReadStatus::Unsupported, 0, cv::ColorSpace::Gray},
        {"four axes draw the first plane",
         {5, 4, 3, 2},
         cv::ReadStatus::Ok,
         1,
         cv::ColorSpace::Gray},
        {"zero width", {0, 4}, cv::ReadStatus::Unsupported, 0, cv::ColorSpace::Gray},
    };
    for (const auto& c : cases) {
        const std::uint64_t samples =
            std::accumulate(c.axes.begin(), c.axes.end(), std::uint64_t{1}, std::multiplies<>());
        const auto result = read(hdu(primaryImageHeader(8, c.axes), samples));
        EXPECT_EQ(result.status, c.status) << c.name;
        if (result.status != cv::ReadStatus::Ok) continue;
        EXPECT_EQ(result.data.image.channels, c.channels) << c.name;
        EXPECT_EQ(result.data.image.colorSpace, c.colorSpace) << c.name;
    }
}

TEST(ReadFits, ImageWhoseDataRunsPastTheEndIsTruncatedUnlessAWholeOneIsThere) {
    std::string cut = cvtest::primaryImage(100, 100);
    cut.resize(cut.size() - 2880);
    EXPECT_EQ(read(cut).status, cv::ReadStatus::Truncated);
    std::string bytes = cvtest::primaryImage(10, 10) +
                        hdu(extensionHeader("IMAGE", 8, {100, 100}), 10000).substr(0, 2880 * 2);
    const auto result = read(bytes);
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.image.width, 10u) << "the larger but cut extension loses";
}

// Each unit's data is skipped by its full size, so the image after it is found.
TEST(ReadFits, WalksOverHeapsGroupsAndHigherAxes) {
    FitsHeader table = extensionHeader("BINTABLE", 8, {8, 10});
    table.integer("PCOUNT", 9000);
    FitsHeader groups = primaryImageHeader(16, {0, 4, 5});
    groups.logical("GROUPS", true).integer("PCOUNT", 3).integer("GCOUNT", 700);
    FitsHeader fourAxes = primaryImageHeader(8, {10, 10, 3, 2});
    FitsHeader wrappedCube = primaryImageHeader(8, {10, 10, 3, 1});
    const struct {
        const char* name;
        std::string units;
        std::uint32_t channels;  // of the 20 x 20 image, or of the 4-axis unit when first
    } cases[] = {
        {"table with a heap", cvtest::primaryImage(4, 4) + hdu(table, 80 + 9000), 1},
        {"random groups", hdu(groups, 2 * 700 * (3 + 20)), 1},
        {"four axes", hdu(fourAxes, 600), 1},
        {"four axes, the fourth 1", hdu(wrappedCube, 300), 3},
    };
    for (const auto& c : cases) {
        const auto result = read(c.units + hdu(extensionHeader("IMAGE", 8, {20, 20}), 400));
        ASSERT_EQ(result.status, cv::ReadStatus::Ok) << c.name;
        EXPECT_EQ(result.data.image.width, 20u) << c.name;
        const auto first = read(c.units);
        if (first.status == cv::ReadStatus::Ok) {
            EXPECT_EQ(first.data.image.channels, c.channels) << c.name;
        }
    }
}

TEST(ReadFits, TakesTheImageFromAnExtensionAfterAnEmptyPrimary) {
    FitsHeader primary = primaryImageHeader(16, {});
    primary.text("OBJECT", "NGC 1300");
    FitsHeader extension = extensionHeader("IMAGE", -32, {40, 30});
    extension.text("EXTNAME", "SCI");
    const std::string first = primary.bytes();
    const auto result = read(first + hdu(extension, 40 * 30 * 4));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.image.width, 40u);
    EXPECT_EQ(result.data.image.position, first.size() + 2880);
    EXPECT_EQ(result.data.headerLength, 2880u);
    EXPECT_EQ(cv::keywordValue(result.data, "EXTNAME"), "SCI");
    EXPECT_EQ(cv::keywordValue(result.data, "OBJECT", "absent"), "absent")
        << "without INHERIT the primary's cards are not handed on";
}

TEST(ReadFits, ExtensionWithInheritAddsThePrimaryCardsItLacks) {
    FitsHeader primary = primaryImageHeader(16, {});
    primary.text("OBJECT", "NGC 1300").text("FILTER", "F814W").real("EXPTIME", 500.0);
    FitsHeader extension = extensionHeader("IMAGE", -32, {40, 30});
    extension.logical("INHERIT", true).real("EXPTIME", 250.0);
    const auto result = read(primary.bytes() + hdu(extension, 40 * 30 * 4));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    const auto& keywords = result.data.keywords;
    ASSERT_FALSE(keywords.empty());
    EXPECT_EQ(keywords.front().name, "XTENSION") << "the extension's own cards come first";
    EXPECT_EQ(cv::keywordValue(result.data, "EXPTIME"), "250") << "the extension's value wins";
    EXPECT_EQ(cv::keywordValue(result.data, "OBJECT"), "NGC 1300");
    EXPECT_EQ(cv::keywordValue(result.data, "FILTER"), "F814W");
    const auto bitpixCount = std::count_if(keywords.begin(), keywords.end(),
                                           [](const auto& k) { return k.name == "BITPIX"; });
    EXPECT_EQ(bitpixCount, 1) << "names the extension has are not repeated";
}

TEST(ReadFits, InheritedListStopsAt512Records) {
    FitsHeader primary = primaryImageHeader(16, {});
    for (int i = 0; i < 400; ++i)
        primary.integer(cvtest::numbered("P", static_cast<std::size_t>(i)), i);
    FitsHeader extension = extensionHeader("IMAGE", 8, {4, 4});
    extension.logical("INHERIT", true);
    for (int i = 0; i < 300; ++i)
        extension.integer(cvtest::numbered("E", static_cast<std::size_t>(i)), i);
    const auto result = read(primary.bytes() + hdu(extension, 16));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.keywords.size(), 512u);
}

TEST(ReadFits, LargerExtensionImageWinsButKeywordsStayThePrimarys) {
    FitsHeader primary = primaryImageHeader(8, {10, 10});
    primary.text("OBJECT", "primary");
    FitsHeader larger = extensionHeader("IMAGE", 8, {20, 10});
    larger.text("OBJECT", "extension");
    const auto result = read(hdu(primary, 100) + hdu(larger, 200));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.image.width, 20u);
    EXPECT_EQ(result.data.imageCount, 2u);
    EXPECT_EQ(cv::keywordValue(result.data, "OBJECT"), "primary");
    EXPECT_EQ(result.data.headerLength, 2880u);
    EXPECT_EQ(result.data.image.position, 2880u * 3);
}

TEST(ReadFits, FirstOfEqualImagesWins) {
    const auto result = read(hdu(primaryImageHeader(8, {10, 10}), 100) +
                             hdu(extensionHeader("IMAGE", 16, {10, 10}), 200));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.image.sampleFormat, cv::SampleFormat::UInt8);
    EXPECT_EQ(result.data.imageCount, 2u);
}

TEST(ReadFits, TablesAreWalkedOverAndNotCounted) {
    const auto result =
        read(cvtest::primaryImage(10, 10) + hdu(extensionHeader("BINTABLE", 8, {24, 100}), 2400) +
             hdu(extensionHeader("TABLE", 8, {80, 50}), 4000));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.imageCount, 1u);
}

TEST(ReadFits, TableWithoutAnImageIsUnsupported) {
    const auto result = read(primaryImageHeader(8, {}).bytes() +
                             hdu(extensionHeader("BINTABLE", 8, {24, 100}), 2400));
    EXPECT_EQ(result.status, cv::ReadStatus::Unsupported);
    EXPECT_EQ(result.data.imageCount, 0u);
}

TEST(ReadFits, WalkStopsAfterALaterUnitWithoutData) {
    // The third unit's image is never reached: the empty second one ends the walk.
    const auto result =
        read(cvtest::primaryImage(10, 10) + hdu(extensionHeader("IMAGE", 8, {}), 0) +
             hdu(extensionHeader("IMAGE", 8, {50, 50}), 2500));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.imageCount, 1u);
    EXPECT_EQ(result.data.image.width, 10u);
}

TEST(ReadFits, WalkEndsAtBlocksAfterTheLastUnitThatStartNoExtension) {
    for (const char filler : {'\0', ' '}) {
        const auto result = read(cvtest::primaryImage(10, 10) + std::string(2880, filler));
        ASSERT_EQ(result.status, cv::ReadStatus::Ok) << int(filler);
        EXPECT_EQ(result.data.imageCount, 1u);
    }
}

TEST(ReadFits, CountsAtMost64Units) {
    std::string bytes = cvtest::primaryImage(2, 2);
    for (int i = 0; i < 70; ++i) bytes += hdu(extensionHeader("IMAGE", 8, {2, 2}), 4);
    const auto result = read(bytes);
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.imageCount, 64u);
}

TEST(ReadFits, ExtensionHeaderCutByTheEndOfFileIsMalformed) {
    FitsHeader extension = extensionHeader("IMAGE", 8, {2, 2});
    std::string cut = extension.bytes();
    cut.replace(cut.find("END     "), 8, "        ");
    EXPECT_EQ(read(cvtest::primaryImage(10, 10) + cut).status, cv::ReadStatus::Malformed);
}

TEST(ReadFits, HeaderWithoutEndEndingExactlyAtTheFileEndIsMalformed) {
    std::string header = primaryImageHeader(8, {2, 2}).bytes();
    header.replace(header.find("END     "), 8, "        ");
    EXPECT_EQ(read(header).status, cv::ReadStatus::Malformed);
    EXPECT_EQ(read(header + std::string(2880, ' ')).status, cv::ReadStatus::Malformed);
}

TEST(ReadFits, HeaderSpanningSeveralBlocksIsRead) {
    FitsHeader header = primaryImageHeader(8, {3, 3});
    for (int i = 0; i < 100; ++i) header.raw("HISTORY calibration step " + std::to_string(i));
    header.text("OBJECT", "after the history");
    const auto result = read(hdu(header, 9));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.headerLength, 2880u * 3);
    EXPECT_EQ(result.data.image.position, 2880u * 3);
    EXPECT_EQ(cv::keywordValue(result.data, "OBJECT"), "after the history");
    EXPECT_EQ(result.data.keywords.size(), 6u) << "HISTORY cards are not stored";
}

TEST(ReadFits, HeaderOfMoreThan512BlocksIsTooLarge) {
    FitsHeader header = primaryImageHeader(8, {3, 3});
    for (int i = 0; i < 512 * 36; ++i) header.raw("HISTORY filler");
    EXPECT_EQ(read(hdu(header, 9)).status, cv::ReadStatus::TooLarge);
}

TEST(ReadFits, ReadsAtMost2048HeaderBlocksPerFileAndKeepsWhatItFound) {
    std::string bytes = hdu(primaryImageHeader(8, {3, 3}), 9);
    for (int extension = 0; extension < 8; ++extension) {
        FitsHeader header = extensionHeader("IMAGE", 8, {3, 3});
        for (int i = 0; i < 500 * 36; ++i) header.raw("HISTORY filler");
        bytes += hdu(header, 9);
    }
    BytesReader reader(bytes);
    cv::ImageData data;
    ASSERT_EQ(cv::readFits(reader, data), cv::ReadStatus::Ok);
    EXPECT_LE(reader.bytesRead, 2048u * 2880u);
    EXPECT_EQ(data.imageCount, 5u) << "the primary image and the four extensions read in full";
}

TEST(ReadFits, HeaderOfExactly512BlocksIsRead) {
    FitsHeader header = primaryImageHeader(8, {3, 3});
    // The five axis cards and END fill the rest of the 512th block.
    for (int i = 0; i < 512 * 36 - 6; ++i) header.raw("HISTORY filler");
    const auto result = read(hdu(header, 9));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.headerLength, 512u * 2880u);
}

TEST(ReadFits, StoresAtMost512KeywordsPerUnit) {
    FitsHeader header = primaryImageHeader(8, {3, 3});
    for (int i = 0; i < 600; ++i)
        header.integer(cvtest::numbered("K", static_cast<std::size_t>(i)), i);
    const auto result = read(hdu(header, 9));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.keywords.size(), 512u);
    EXPECT_EQ(result.data.keywords.back().name, "K506") << "after the five axis cards";
}

std::uint64_t storedTextOf(const std::string& headerBytes) {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i + 80 <= headerBytes.size(); i += 80) {
        const std::string_view card(headerBytes.data() + i, 80);
        if (cv::isEndCard(card)) break;
        if (const auto parsed = cv::parseFitsCard(card)) {
            total += parsed->name.size() + parsed->value.size() + parsed->comment.size();
        }
    }
    return total;
}

TEST(ReadFits, KeywordTextBudgetIsSharedByAllUnitsAndCutsTheLastRecord) {
    // Tables full of long cards use up most of the 256 KiB before the image.
    const std::string longText(60, 'x');
    std::string bytes = primaryImageHeader(8, {}).bytes();
    std::uint64_t used = storedTextOf(bytes);
    for (int t = 0; t < 8; ++t) {
        FitsHeader table = extensionHeader("BINTABLE", 8, {8, 1});
        for (int i = 0; i < 450; ++i)
            table.text(cvtest::numbered("K", static_cast<std::size_t>(i)), longText, "c");
        used += storedTextOf(table.bytes());
        bytes += hdu(table, 8);
    }
    ASSERT_LT(used, 262144u);
    ASSERT_GT(used, 262144u - 25000u);
    FitsHeader image = extensionHeader("IMAGE", 8, {4, 4});
    for (int i = 0; i < 400; ++i)
        image.text(cvtest::numbered("I", static_cast<std::size_t>(i)), longText, "c");
    const auto result = read(bytes + hdu(image, 16));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    std::uint64_t stored = 0;
    for (const auto& k : result.data.keywords)
        stored += k.name.size() + k.value.size() + k.comment.size();
    EXPECT_EQ(stored, 262144u - used) << "the budget is never refilled";
    const auto& last = result.data.keywords.back();
    EXPECT_LT(last.name.size() + last.value.size() + last.comment.size(),
              2 + longText.size() + 2 + 1 + 4)
        << "the record that meets the end of the budget is cut";
}

TEST(ReadFits, SkipsCardsThatAreNotValueCards) {
    FitsHeader header;
    header.raw("SIMPLE  =                    T")
        .raw("BITPIX  =                    8")
        .raw("NAXIS   =                    2")
        .raw("NAXIS1  =                    4")
        .raw("NAXIS2  =                    4")
        .raw("NAXIS1  =99")
        .raw("COMMENT NAXIS1 = 7");
    const auto result = read(hdu(header, 16));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.image.width, 4u);
    EXPECT_EQ(result.data.keywords.size(), 5u);
}

TEST(ReadFits, LaterCardsOverwriteAndUnparsableValuesAreIgnored) {
    FitsHeader header = primaryImageHeader(16, {4, 4});
    header.value("BZERO", "'32768'")
        .value("BSCALE", "1.0D0")
        .value("BSCALE", "nan")
        .value("BZERO", "-inf");
    header.integer("NAXIS2", 2).value("NAXIS1", "four");
    const auto result = read(hdu(header, 32));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.data.image.height, 2u);
    EXPECT_EQ(result.data.image.width, 4u);
    EXPECT_EQ(result.data.image.offset, static_cast<float>(32768.0 / 65535.0))
        << "BZERO stayed 0, BSCALE 1";
}

TEST(ReadFits, KeepsStringValuesExactlyAsWritten) {
    FitsHeader header = primaryImageHeader(8, {2, 2});
    header.raw("OBJECT  = 'Bode''s / Cigar'    / M 81 and M 82");
    const auto result = read(hdu(header, 4));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    const auto& keyword = result.data.keywords.back();
    EXPECT_EQ(keyword.value, "'Bode''s / Cigar'");
    EXPECT_EQ(keyword.comment, "M 81 and M 82");
}

struct BayerCase {
    const char* name;
    std::vector<std::pair<const char*, const char*>> cards;
    const char* pattern;
};

TEST(ReadFits, TakesTheBayerPatternFromBayerpatThenColortyp) {
    const BayerCase cases[] = {
        {"lower case padded", {{"BAYERPAT", "'rggb    '"}}, "RGGB"},
        {"COLORTYP alone", {{"COLORTYP", "'GRBG'"}}, "GRBG"},
        {"BAYERPAT wins", {{"COLORTYP", "'GRBG'"}, {"BAYERPAT", "'BGGR'"}}, "BGGR"},
        {"an unusable BAYERPAT hides COLORTYP",
         {{"BAYERPAT", "'RGB'"}, {"COLORTYP", "'GRBG'"}},
         ""},
        {"letters are not judged here", {{"BAYERPAT", "'XYZW'"}}, "XYZW"},
        {"unquoted", {{"bayerpat", "GBRG"}}, "GBRG"},
        {"none", {}, ""},
    };
    for (const auto& c : cases) {
        FitsHeader header = primaryImageHeader(16, {4, 4});
        for (const auto& [name, value] : c.cards) header.value(name, value);
        const auto result = read(hdu(header, 32));
        ASSERT_EQ(result.status, cv::ReadStatus::Ok) << c.name;
        EXPECT_EQ(result.data.cfaPattern, c.pattern) << c.name;
        const std::uint32_t cell = std::string(c.pattern).empty() ? 0 : 2;
        EXPECT_EQ(result.data.cfaWidth, cell) << c.name;
        EXPECT_EQ(result.data.cfaHeight, cell) << c.name;
    }
}

TEST(ReadFits, ReportsAFailingSourceAsReadFailed) {
    const std::string bytes =
        cvtest::primaryImage(10, 10) + hdu(extensionHeader("IMAGE", 8, {50, 50}), 2500);
    cvtest::FailingReader reader(bytes, 2880 * 2 + 10);
    cv::ImageData data;
    EXPECT_EQ(cv::readFits(reader, data), cv::ReadStatus::ReadFailed);
}

TEST(ReadFits, OutOfRangeBitpixIsNotWrappedIntoAValidOne) {
    FitsHeader header = primaryImageHeader(8, {2, 2});
    header.value("BITPIX", "4294967304");  // 2^32 + 8
    EXPECT_EQ(read(hdu(header, 4)).status, cv::ReadStatus::Ok) << "the earlier BITPIX 8 stands";
    FitsHeader only = primaryImageHeader(8, {2, 2});
    std::string bytes = only.bytes();
    bytes.replace(bytes.find("BITPIX  =                    8"), 30,
                  "BITPIX  =           4294967304");
    // Without a BITPIX the unit has no data size and holds no image; its data
    // starts no extension.
    EXPECT_EQ(read(bytes + cvsamples::padData(std::string(4, '\0'))).status,
              cv::ReadStatus::Unsupported);
}

}  // namespace
