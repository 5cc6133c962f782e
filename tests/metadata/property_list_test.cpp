#include "metadata/property_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "samples/text_samples.h"
#include "support/fits_builder.h"
#include "support/generated_samples.h"

namespace {

std::vector<std::string> namesOf(const cv::PropertyList& list) {
    std::vector<std::string> names;
    for (const auto& entry : list) names.emplace_back(entry.key->canonicalName);
    return names;
}

TEST(PropertyKeys, TableIsCompleteAndUnique) {
    std::set<std::pair<std::string_view, std::uint32_t>> keys;
    std::set<std::string_view> names;
    for (const auto& key : cv::allPropertyKeys()) {
        EXPECT_TRUE(keys.insert({key.formatId, key.propertyId}).second) << key.canonicalName;
        EXPECT_TRUE(names.insert(key.canonicalName).second) << key.canonicalName;
    }
    for (std::uint32_t id = 2; id <= 32; ++id) {
        const auto* key = cv::ownPropertyKey(id);
        ASSERT_NE(key, nullptr) << id;
        EXPECT_EQ(key->propertyId, id);
        EXPECT_EQ(key->formatId, cv::kOwnFormatId);
    }
    EXPECT_EQ(cv::ownPropertyKey(21)->canonicalName, "Corvane.FWHM");
    EXPECT_EQ(cv::ownPropertyKey(29)->canonicalName, "Corvane.ProcessIcons");
    EXPECT_EQ(cv::ownPropertyKey(30)->canonicalName, "Corvane.Processes");
    EXPECT_EQ(cv::ownPropertyKey(31)->canonicalName, "Corvane.Frames");
    EXPECT_EQ(cv::ownPropertyKey(32)->canonicalName, "Corvane.SelectedFrames");
    EXPECT_EQ(cv::ownPropertyKey(33), nullptr);
}

TEST(ImagePropertyList, LeavesOutNumbersThatOverflowOnTheWay) {
    cv::ImageMetadata m;
    m.focalLength = 1e300;
    m.aperture = 1e-300;  // an f-number of 1e600
    const auto names = namesOf(cv::imagePropertyList(m));
    EXPECT_NE(std::find(names.begin(), names.end(), "System.Photo.FocalLength"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "System.Photo.FNumber"), names.end());
}

TEST(ImagePropertyList, BareImageHasGeometryKindAndFormat) {
    cv::ImageMetadata m;
    m.width = 640;
    m.height = 480;
    m.bitsPerSample = 16;
    m.colorSpace = "Gray";
    m.compression = "none";
    m.sampleFormat = "UInt16";
    m.formatName = "FITS";
    m.imageCount = 1;
    const std::vector<std::string> expected = {
        "System.Image.HorizontalSize", "System.Image.VerticalSize", "System.Image.Dimensions",
        "System.Image.BitDepth",       "System.Image.ColorSpace",   "System.Kind",
        "Corvane.Compression",         "Corvane.SampleFormat",      "Corvane.FormatName"};
    const auto list = cv::imagePropertyList(m);
    EXPECT_EQ(namesOf(list), expected);
    EXPECT_EQ(list[5].text, "picture");
    EXPECT_EQ(list[2].text, "640 x 480");
}

TEST(ImagePropertyList, FollowsTheStoreOrderAndConditions) {
    cv::ImageMetadata m;
    m.objectName = "M 42";
    m.focalLength = 750.0;
    m.aperture = 0.0;
    m.binningY = 2;
    m.offset = 10;
    m.rightAscension = 83.8;
    m.imageCount = 3;
    const auto names = namesOf(cv::imagePropertyList(m));
    EXPECT_EQ(std::count(names.begin(), names.end(), "System.Photo.FNumber"), 0)
        << "aperture 0 gives no f-number";
    const std::vector<std::string> tail = {"Corvane.RightAscension", "Corvane.Offset",
                                           "Corvane.RightAscensionText", "Corvane.Binning",
                                           "Corvane.ImageCount"};
    std::vector<std::string> found;
    for (const auto& name : names) {
        if (std::find(tail.begin(), tail.end(), name) != tail.end()) found.push_back(name);
    }
    EXPECT_EQ(found, tail);
    EXPECT_EQ(names[names.size() - 1], "Corvane.ImageCount");
    m.aperture = 150.0;
    const auto list = cv::imagePropertyList(m);
    const auto fnumber = std::find_if(list.begin(), list.end(), [](const auto& e) {
        return e.key->canonicalName == "System.Photo.FNumber";
    });
    ASSERT_NE(fnumber, list.end());
    EXPECT_DOUBLE_EQ(fnumber->real, 5.0);
}

}  // namespace

namespace {

TEST(SequencePropertyList, CountsFramesAndAddsTheMedianFwhmWhenRegistered) {
    cv::SequenceInfo info;
    info.selectedFrames = 3;
    for (int i = 0; i < 12; ++i) info.images.push_back({});
    EXPECT_EQ(namesOf(cv::sequencePropertyList(info)),
              (std::vector<std::string>{"Corvane.FormatName", "Corvane.Frames",
                                        "Corvane.SelectedFrames"}));
    EXPECT_EQ(cv::sequencePropertyList(info)[1].number, 12u)
        << "no declared count: the image lines count";
    info.registrationLayer = 0;
    info.images[0].registered = true;
    info.images[0].fwhm = 2.5;
    const auto list = cv::sequencePropertyList(info);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[3].key->canonicalName, "Corvane.FWHM");
    EXPECT_EQ(list[3].real, 2.5);
    EXPECT_EQ(list[0].text, "SEQ");
}

TEST(XpsmPropertyList, CountsIconsOnlyWhenThereAreSome) {
    cv::XpsmDocument document;
    EXPECT_EQ(namesOf(cv::xpsmPropertyList(document)),
              (std::vector<std::string>{"Corvane.FormatName"}));
    document.instances.push_back({"PixelMath", "pm", "", -1, {}, {}, {}});
    document.icons.push_back({"icon", "pm"});
    const auto list = cv::xpsmPropertyList(document);
    EXPECT_EQ(namesOf(list), (std::vector<std::string>{"Corvane.FormatName", "Corvane.ProcessIcons",
                                                       "Corvane.Processes"}));
    EXPECT_EQ(list[0].text, "XPSM");
    EXPECT_EQ(list[1].number, 1u);
    EXPECT_EQ(list[2].text, "PixelMath");
}

TEST(ReadPropertyList, TriesImagesThenSequencesThenProcessIcons) {
    const std::string fits = cvtest::generatedSample("bitpix16.fits");
    struct Case {
        const char* name;
        std::string bytes;
        cv::ReadStatus status;
        const char* format;  // own property 28, when read
    } cases[] = {
        {"FITS", fits, cv::ReadStatus::Ok, "FITS"},
        {"sequence", cvsamples::sirilSequence(4, 0, '0'), cv::ReadStatus::Ok, "SEQ"},
        {"process icons", "<xpsm><instance class='A' id='a'/></xpsm>", cv::ReadStatus::Ok, "XPSM"},
        {"plain text", "nothing this server reads", cv::ReadStatus::NotRecognized, nullptr},
        {"cut FITS", fits.substr(0, fits.size() / 2), cv::ReadStatus::Truncated, nullptr},
    };
    for (const auto& c : cases) {
        cv::MemoryReader reader(c.bytes.data(), c.bytes.size());
        cv::PropertyList list;
        EXPECT_EQ(cv::readPropertyList(reader, list), c.status) << c.name;
        const auto format = std::find_if(list.begin(), list.end(), [](const auto& e) {
            return e.key == cv::ownPropertyKey(28);
        });
        if (c.format == nullptr) {
            EXPECT_TRUE(list.empty()) << c.name;
        } else {
            ASSERT_NE(format, list.end()) << c.name;
            EXPECT_EQ(format->text, c.format) << c.name;
        }
    }
}

TEST(ReadPropertyList, ShowsNoControlOrBidiCharacterFromTheFile) {
    std::string overrides;
    for (int i = 0; i < 20; ++i) overrides += "\u202E";
    cvsamples::FitsHeader header = cvsamples::primaryImageHeader(8, {2, 2});
    header.text("OBJECT", std::string("M31\0\x1b[31mred", 12))
        .text("FILTER", overrides + "Ha")
        .text("INSTRUME", "\u202Eevil");
    const std::string file = cvtest::hdu(header, 4);
    cv::MemoryReader reader(file.data(), file.size());
    cv::PropertyList list;
    ASSERT_EQ(cv::readPropertyList(reader, list), cv::ReadStatus::Ok);
    const auto textOf = [&](const char* name) {
        for (const auto& entry : list)
            if (entry.key->canonicalName == std::string_view(name)) return entry.text;
        return std::string("(absent)");
    };
    EXPECT_EQ(textOf("System.Title"), "M31\uFFFD\uFFFD[31mred");
    EXPECT_EQ(textOf("Corvane.Filter"), "Ha");
    EXPECT_EQ(textOf("System.Photo.CameraModel"), "evil");
}

}  // namespace
