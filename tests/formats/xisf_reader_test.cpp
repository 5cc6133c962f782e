#include "formats/xisf_reader.h"
#include "support/test_names.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/file_reader.h"
#include "formats/image_header.h"
#include "samples/xisf_writer.h"
#include "support/test_readers.h"

namespace {

using cv::ReadStatus;
using cvsamples::XisfBlock;
using cvsamples::XisfWriter;

// An XISF file around a hand-written header, followed by `tail` bytes of data.
std::string xisfWithHeader(const std::string& xml, std::size_t tail = 0) {
    std::string file = "XISF0100";
    for (int shift = 0; shift < 32; shift += 8)
        file += static_cast<char>((xml.size() >> shift) & 0xFF);
    file += std::string(4, '\0') + xml;
    file.resize(file.size() + tail, '\0');
    return file;
}

struct Read {
    ReadStatus status;
    cv::ImageData data;
};

Read readXisf(const std::string& bytes, std::int32_t index = -1) {
    cvtest::BytesReader reader(bytes);
    Read result;
    result.status = cv::readXisf(reader, result.data, index);
    return result;
}

XisfBlock uint16Block(std::uint64_t width, std::uint64_t height) {
    XisfBlock block;
    block.width = width;
    block.height = height;
    block.samples.assign(width * height * 2, '\x10');
    return block;
}

TEST(ReadXisf, ChecksThePrefixAndHeaderLength) {
    EXPECT_EQ(readXisf("XISF0100").status, ReadStatus::NotRecognized);
    EXPECT_EQ(readXisf(std::string("XISF0200") + std::string(8, '\0')).status,
              ReadStatus::NotRecognized);
    EXPECT_EQ(readXisf(std::string("XISF0100") + std::string(8, '\0')).status,
              ReadStatus::Malformed)
        << "length 0";
    std::string huge =
        std::string("XISF0100") + std::string("\x01\x00\x00\x01", 4) + std::string(4, '\0');
    huge.resize(16 + 16777217, ' ');
    EXPECT_EQ(readXisf(huge).status, ReadStatus::TooLarge) << "one byte over 16 MiB";
    std::string cut = xisfWithHeader("<xisf/>");
    cut.pop_back();
    EXPECT_EQ(readXisf(cut).status, ReadStatus::Truncated);
}

TEST(ReadXisf, DescribesAnAttachedImage) {
    XisfWriter writer;
    XisfBlock block = uint16Block(40, 30);
    block.bigEndian = true;
    writer.addImage(
        block,
        "<FITSKeyword name='OBJECT' value=\"'M 42'\" comment='a &amp; b'/>"
        "<Property id='Observation:Object:Name' type='String'>  Orion &amp; friends  </Property>"
        "<Property id='Instrument:ExposureTime' type='Float32' value='300'/>"
        "<Property id='' type='String'>ignored</Property>"
        "<ColorFilterArray pattern='RGGB' width='2' height='2'/>");
    const auto result = readXisf(writer.bytes());
    ASSERT_EQ(result.status, ReadStatus::Ok);
    const auto& image = result.data.image;
    EXPECT_EQ(result.data.kind, cv::FileKind::Xisf);
    EXPECT_EQ(image.width, 40u);
    EXPECT_EQ(image.sampleFormat, cv::SampleFormat::UInt16);
    EXPECT_TRUE(image.bigEndian);
    EXPECT_EQ(image.location, cv::DataLocation::Attachment);
    EXPECT_EQ(image.position, 4096u);
    EXPECT_EQ(image.size, 2400u);
    EXPECT_EQ(image.scale, cv::defaultNormalization(cv::SampleFormat::UInt16).scale);
    ASSERT_EQ(result.data.keywords.size(), 1u);
    EXPECT_EQ(result.data.keywords[0].value, "'M 42'");
    EXPECT_EQ(result.data.keywords[0].comment, "a & b");
    ASSERT_EQ(result.data.properties.size(), 2u);
    EXPECT_EQ(result.data.properties[0].value, "Orion & friends")
        << "text content, trimmed and decoded";
    EXPECT_EQ(result.data.properties[1].value, "300");
    EXPECT_EQ(result.data.cfaPattern, "RGGB");
    EXPECT_EQ(result.data.cfaWidth, 2u);
    EXPECT_EQ(result.data.imageCount, 1u);
}

TEST(ReadXisf, ChoosesTheLargestImageAndTheFirstOfEquals) {
    const std::string twoFormats =
        "<xisf><Image geometry='100:100:1' sampleFormat='UInt16' location='attachment:0:20000'/>"
        "<Image geometry='100:100:1' sampleFormat='Float32' location='attachment:0:40000'/></xisf>";
    const auto larger = readXisf(xisfWithHeader(twoFormats, 40000));
    ASSERT_EQ(larger.status, ReadStatus::Ok);
    EXPECT_EQ(larger.data.image.sampleFormat, cv::SampleFormat::Float32);
    EXPECT_EQ(larger.data.imageCount, 2u);

    const std::string equalCounts =
        "<xisf><Image geometry='100:100:1' sampleFormat='UInt16' compression='zlib:20000' "
        "location='attachment:0:100'/>"
        "<Image geometry='100:100:1' sampleFormat='UInt16' compression='zlib:20000' "
        "location='attachment:0:900'/></xisf>";
    EXPECT_EQ(readXisf(xisfWithHeader(equalCounts, 1000)).data.image.size, 900u)
        << "the larger stored block wins";

    const auto byIndex = readXisf(xisfWithHeader(twoFormats, 40000), 0);
    ASSERT_EQ(byIndex.status, ReadStatus::Ok);
    EXPECT_EQ(byIndex.data.image.sampleFormat, cv::SampleFormat::UInt16);
}

TEST(ReadXisf, RefusesBadImageAttributes) {
    const char* images[] = {
        "<Image geometry='10:10:1:1' sampleFormat='UInt8' location='attachment:0:100'/>",
        "<Image geometry='10:10' sampleFormat='UInt8' location='attachment:0:100'/>",
        "<Image geometry='100001:1:1' sampleFormat='UInt8' location='attachment:0:100'/>",
        "<Image geometry='10:10:17' sampleFormat='UInt8' location='attachment:0:100'/>",
        "<Image geometry='10:10:1' sampleFormat='uint8' location='attachment:0:100'/>",
        "<Image geometry='10:10:1' sampleFormat='UInt8' byteOrder='Big' "
        "location='attachment:0:100'/>",
        "<Image geometry='10:10:1' sampleFormat='UInt8' colorSpace='HSV' "
        "location='attachment:0:100'/>",
        "<Image geometry='10:10:1' sampleFormat='UInt8' location='attachment:0'/>",
        "<Image geometry='10:10:1' sampleFormat='UInt8' compression='rar:100' "
        "location='attachment:0:100'/>",
        "<Image geometry='10:10:1' sampleFormat='UInt8'/>",
    };
    for (const char* image : images) {
        EXPECT_EQ(readXisf(xisfWithHeader(std::string("<xisf>") + image + "</xisf>", 100)).status,
                  ReadStatus::Unsupported)
            << image;
    }
    EXPECT_EQ(readXisf(xisfWithHeader("<xisf><Image", 100)).status, ReadStatus::Malformed)
        << "an XML error and no image";
}

TEST(ReadXisf, ChecksTheDataBlockAgainstTheGeometry) {
    const std::pair<const char*, ReadStatus> cases[] = {
        {"<Image geometry='10:10:1' sampleFormat='UInt16' location='attachment:0:199'/>",
         ReadStatus::Malformed},
        {"<Image geometry='10:10:1' sampleFormat='UInt16' location='attachment:0:0'/>",
         ReadStatus::Malformed},
        {"<Image geometry='10:10:1' sampleFormat='UInt16' location='attachment:100:1000'/>",
         ReadStatus::Truncated},
        {"<Image geometry='10:10:1' sampleFormat='UInt16' compression='zlib:199' "
         "location='attachment:0:50'/>",
         ReadStatus::Malformed},
        {"<Image geometry='10:10:1' sampleFormat='UInt16' location='attachment:0:200'/>",
         ReadStatus::Ok},
        {"<Image geometry='10:10:1' sampleFormat='UInt16' location='attachment:0:250'/>",
         ReadStatus::Ok},  // padded
        {"<Image geometry='10:10:1' sampleFormat='UInt16' location='inline'/>", ReadStatus::Ok},
    };
    for (const auto& [image, status] : cases) {
        EXPECT_EQ(readXisf(xisfWithHeader(std::string("<xisf>") + image + "</xisf>", 300)).status,
                  status)
            << image;
    }
}

TEST(ReadXisf, CollectsOnlyDirectChildrenAndSurvivesALaterXmlError) {
    const std::string xml =
        "<xisf><Image geometry='10:10:1' sampleFormat='UInt8' location='attachment:0:100'>"
        "<FITSKeyword name='A' value='1' comment=''/>"
        "<Resolution><FITSKeyword name='NESTED' value='2' comment=''/></Resolution>"
        "<FITSKeyword name='' value='no name' comment=''/>"
        "<FITSKeyword name='B' value='3' comment=''/><broken";
    const auto result = readXisf(xisfWithHeader(xml, 200));
    ASSERT_EQ(result.status, ReadStatus::Ok);
    ASSERT_EQ(result.data.keywords.size(), 2u);
    EXPECT_EQ(result.data.keywords[1].name, "B");
}

TEST(ReadXisf, TakesSmallIntegerThumbnailsOnly) {
    struct Case {
        std::uint64_t width;
        const char* format;
        bool taken;
    } cases[] = {{400, "UInt8", true},
                 {1024, "UInt16", true},
                 {1025, "UInt8", false},
                 {400, "Float32", false}};
    for (const auto& c : cases) {
        XisfWriter writer;
        XisfBlock thumbnail;
        thumbnail.width = c.width;
        thumbnail.height = 300;
        thumbnail.sampleFormat = c.format;
        thumbnail.samples.assign(c.width * 300 *
                                     (std::string(c.format) == "UInt8"    ? 1
                                      : std::string(c.format) == "UInt16" ? 2
                                                                          : 4),
                                 '\x20');
        writer.addImage(uint16Block(1200, 900), {}, &thumbnail);
        const auto result = readXisf(writer.bytes());
        ASSERT_EQ(result.status, ReadStatus::Ok);
        EXPECT_EQ(result.data.hasThumbnail, c.taken) << c.width << " " << c.format;
    }
}

TEST(ReadXisf, DropsAThumbnailThatPointsPastTheFile) {
    const std::string xml =
        "<xisf><Image geometry='10:10:1' sampleFormat='UInt8' location='attachment:0:100'>"
        "<Thumbnail geometry='32:40:1' sampleFormat='UInt8' "
        "location='attachment:8192:1280'/></Image></xisf>";
    const auto result = readXisf(xisfWithHeader(xml, 200));
    ASSERT_EQ(result.status, ReadStatus::Ok);
    EXPECT_FALSE(result.data.hasThumbnail);
    EXPECT_EQ(result.data.thumbnail.width, 0u);
}

TEST(ReadXisf, LoadsBlocksStoredInTheHeader) {
    XisfBlock original = uint16Block(16, 8);
    for (std::size_t i = 0; i < original.samples.size(); ++i)
        original.samples[i] = static_cast<char>(i * 7);
    struct Case {
        const char* name;
        XisfBlock::Placement placement;
        std::string codec;
        bool onData;
    } cases[] = {
        {"embedded", XisfBlock::Placement::Embedded, "", false},
        {"embedded zlib, compression on Data", XisfBlock::Placement::Embedded, "zlib", true},
        {"embedded zstd", XisfBlock::Placement::Embedded, "zstd", false},
        {"inline base64", XisfBlock::Placement::Inline, "", false},
        {"inline lz4", XisfBlock::Placement::Inline, "lz4", false},
    };
    for (const auto& c : cases) {
        XisfBlock block = original;
        block.placement = c.placement;
        block.codec = c.codec;
        block.compressionOnData = c.onData;
        XisfWriter writer;
        writer.addImage(block);
        const auto result = readXisf(writer.bytes());
        ASSERT_EQ(result.status, ReadStatus::Ok) << c.name;
        const std::string stored = cvsamples::encodeBlock(block);
        EXPECT_EQ(result.data.image.inlineData,
                  std::vector<std::uint8_t>(stored.begin(), stored.end()))
            << c.name;
        EXPECT_EQ(result.data.image.codec != cv::Codec::None, !c.codec.empty()) << c.name;
    }
}

TEST(ReadXisf, BadPayloadsFailTheImageButOnlyDropAThumbnail) {
    const std::string badImage =
        "<xisf><Image geometry='2:2:1' sampleFormat='UInt8' location='embedded'><Data "
        "encoding='base64'>@@@@</Data>"
        "</Image></xisf>";
    EXPECT_EQ(readXisf(xisfWithHeader(badImage)).status, ReadStatus::Malformed);
    const std::string hexData =
        "<xisf><Image geometry='2:2:1' sampleFormat='UInt8' location='embedded'><Data "
        "encoding='hex'>00010203</Data>"
        "</Image></xisf>";
    EXPECT_EQ(readXisf(xisfWithHeader(hexData)).status, ReadStatus::Malformed);
    const std::string badThumbnail =
        "<xisf><Image geometry='2:2:1' sampleFormat='UInt8' location='inline:base64'>AAECAw=="
        "<Thumbnail geometry='2:2:1' sampleFormat='UInt8' location='inline:base64'>not "
        "base64!</Thumbnail></Image></xisf>";
    const auto result = readXisf(xisfWithHeader(badThumbnail));
    ASSERT_EQ(result.status, ReadStatus::Ok);
    EXPECT_FALSE(result.data.hasThumbnail);
    EXPECT_EQ(result.data.image.inlineData, (std::vector<std::uint8_t>{0, 1, 2, 3}));
    const std::string plainInline =
        "<xisf><Image geometry='2:2:1' sampleFormat='UInt8' "
        "location='inline'>AAECAw==</Image></xisf>";
    EXPECT_TRUE(readXisf(xisfWithHeader(plainInline)).data.image.inlineData.empty())
        << "no encoding, no payload";
}

TEST(ReadXisf, StoresAtMost512Keywords) {
    std::string xml =
        "<xisf><Image geometry='1:1:1' sampleFormat='UInt8' location='attachment:0:1'>";
    for (int i = 0; i < 600; ++i)
        xml += "<FITSKeyword name='K" + std::to_string(i) + "' value='1' comment=''/>";
    xml += "</Image></xisf>";
    EXPECT_EQ(readXisf(xisfWithHeader(xml, 10)).data.keywords.size(), 512u);
}

struct ExternalXisf {
    const char* path;
    std::uint64_t width, height;
    std::uint32_t channels;
    cv::SampleFormat format;
    cv::Codec codec;
    cv::DataLocation location;
    bool thumbnail;
};

void PrintTo(const ExternalXisf& c, std::ostream* out) {
    *out << c.path;
}

using cv::Codec;
using cv::DataLocation;
using cv::SampleFormat;

const ExternalXisf kExternal[] = {
    {"graxpert/color_16bit.xisf", 6, 5, 3, SampleFormat::UInt16, Codec::None,
     DataLocation::Attachment, false},
    {"graxpert/mono_32bit.xisf", 6, 5, 1, SampleFormat::Float32, Codec::None,
     DataLocation::Attachment, false},
    {"libxisf/test_lz4.xisf", 8, 10, 1, SampleFormat::UInt16, Codec::Lz4, DataLocation::Embedded,
     true},
    {"wrenby-xisf/test.xisf", 8, 10, 1, SampleFormat::UInt16, Codec::None, DataLocation::Embedded,
     false},
    {"wrenby-xisf/2ch.xisf", 4, 10, 2, SampleFormat::UInt16, Codec::None, DataLocation::Embedded,
     false},
    {"xisfits/xisf-image-gray-256x256-16bits-zlib.xisf", 256, 256, 1, SampleFormat::UInt16,
     Codec::Zlib, DataLocation::Attachment, false},
    {"xisfits/xisf-image-gray-256x256-16bits-zlib_sh.xisf", 256, 256, 1, SampleFormat::UInt16,
     Codec::Zlib, DataLocation::Attachment, false},
    {"xisfits/xisf-image-gray-256x256-float-64bits.xisf", 255, 255, 1, SampleFormat::Float64,
     Codec::None, DataLocation::Attachment, false},
    {"xisfits/xisf-image-rgb-256x256-32bits.xisf", 256, 256, 3, SampleFormat::UInt32, Codec::None,
     DataLocation::Attachment, false},
    {"xisfits/xisf-image-rgb-256x256-8bits-compressed.xisf", 256, 256, 1, SampleFormat::UInt8,
     Codec::Zlib, DataLocation::Embedded, false},
    {"xisfrename/Unit16_0s_200x200.xisf", 200, 200, 1, SampleFormat::UInt16, Codec::None,
     DataLocation::Attachment, false},
    {"xisfsharp/200x150-u16-zstd-shuffle-process-history-display-function-icc-sha1.xisf", 200, 150,
     1, SampleFormat::UInt16, Codec::Zstd, DataLocation::Embedded, true},
    {"xisfsharp/400x300-f64.xisf", 400, 300, 1, SampleFormat::Float64, Codec::None,
     DataLocation::Attachment, true},
    {"xisfsharp/400x300-u16-lz4hc-shuffle.xisf", 400, 300, 1, SampleFormat::UInt16, Codec::Lz4hc,
     DataLocation::Embedded, true},
    {"xisfsharp/400x300-u16-zlib.xisf", 400, 300, 1, SampleFormat::UInt16, Codec::Zlib,
     DataLocation::Embedded, true},
    {"xisfsharp/400x300-u32.xisf", 400, 300, 1, SampleFormat::UInt32, Codec::None,
     DataLocation::Attachment, true},
    {"xisfsharp/40x30-u16-embedded.xisf", 40, 30, 1, SampleFormat::UInt16, Codec::None,
     DataLocation::Embedded, true},
};

class ExternalXisfFiles : public ::testing::TestWithParam<ExternalXisf> {};

TEST_P(ExternalXisfFiles, DecodeAsTheirWritersDescribeThem) {
    const ExternalXisf& c = GetParam();
    const auto path = std::filesystem::path(CORVANE_EXTERNAL_TESTDATA) / c.path;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is not here";
    auto reader = cv::FileReader::open(path.string());
    ASSERT_NE(reader, nullptr);
    cv::ImageData data;
    ASSERT_EQ(cv::readImageHeader(*reader, data), ReadStatus::Ok);
    EXPECT_EQ(data.image.width, c.width);
    EXPECT_EQ(data.image.height, c.height);
    EXPECT_EQ(data.image.channels, c.channels);
    EXPECT_EQ(data.image.sampleFormat, c.format);
    EXPECT_EQ(data.image.codec, c.codec);
    EXPECT_EQ(data.image.location, c.location);
    EXPECT_EQ(data.hasThumbnail, c.thumbnail);
    if (c.location == DataLocation::Embedded) {
        EXPECT_FALSE(data.image.inlineData.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(RealFiles, ExternalXisfFiles, ::testing::ValuesIn(kExternal),
                         [](const auto& param) { return cvtest::testNameOf(param.param.path); });

}  // namespace
