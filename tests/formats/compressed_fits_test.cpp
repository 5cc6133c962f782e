#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/image_header.h"
#include "formats/tiled_image_reader.h"
#include "metadata/property_list.h"
#include "support/shell_render.h"
#include "support/test_names.h"
#include "support/test_readers.h"

// Each fpack-made file against funpack's decompressed copy of it
// (tools/compressed-fixtures.sh writes both as the build's test fixture).
namespace {

namespace fs = std::filesystem;

std::vector<std::string> compressedFixtures() {
    std::vector<std::string> names;
    const fs::path folder = CORVANE_COMPRESSED_FIXTURES;
    if (!fs::is_directory(folder)) return names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".fz") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Checksums are the one difference the two files are allowed in their cards.
std::vector<std::string> cardsBesideChecksums(const cv::ImageData& data) {
    std::vector<std::string> cards;
    for (const auto& k : data.keywords)
        if (k.name != "CHECKSUM" && k.name != "DATASUM") cards.push_back(k.name + "=" + k.value);
    return cards;
}

std::vector<std::string> propertyTexts(cv::Reader& reader) {
    cv::PropertyList list;
    EXPECT_EQ(cv::readPropertyList(reader, list), cv::ReadStatus::Ok);
    std::vector<std::string> texts;
    for (const auto& entry : list)
        texts.push_back(entry.text + "/" + std::to_string(entry.number) + "/" +
                        std::to_string(entry.real));
    return texts;
}

class CompressedFits : public testing::TestWithParam<std::string> {};

TEST_P(CompressedFits, DrawsAndDescribesAsFunpacksCopy) {
    const fs::path folder = CORVANE_COMPRESSED_FIXTURES;
    cvtest::BytesReader packed(contents(folder / GetParam()));
    cvtest::BytesReader plain(contents(folder / fs::path(GetParam()).replace_extension("")));
    cv::ImageData packedData;
    cv::ImageData plainData;
    ASSERT_EQ(cv::readImageHeader(packed, packedData), cv::ReadStatus::Ok);
    ASSERT_EQ(cv::readImageHeader(plain, plainData), cv::ReadStatus::Ok);
    const cv::ImageBlock& a = packedData.image;
    const cv::ImageBlock& b = plainData.image;
    EXPECT_TRUE(a.tiles != nullptr);
    EXPECT_EQ(
        std::tie(a.width, a.height, a.channels, a.sampleFormat, a.colorSpace, a.scale, a.offset),
        std::tie(b.width, b.height, b.channels, b.sampleFormat, b.colorSpace, b.scale, b.offset));
    EXPECT_EQ(packedData.cfaPattern, plainData.cfaPattern);
    EXPECT_EQ(cardsBesideChecksums(packedData), cardsBesideChecksums(plainData));
    EXPECT_EQ(propertyTexts(packed), propertyTexts(plain));
    for (const bool preview : {false, true}) {
        cv::RgbImage fromPacked;
        cv::RgbImage fromPlain;
        ASSERT_EQ(cvtest::renderAsShellDoes(packed, preview, fromPacked), cv::ReadStatus::Ok);
        ASSERT_EQ(cvtest::renderAsShellDoes(plain, preview, fromPlain), cv::ReadStatus::Ok);
        EXPECT_TRUE(fromPacked.pixels == fromPlain.pixels) << (preview ? "preview" : "thumbnail");
    }
}

// Every row read plane after plane, as the renderer asks: each tile is
// decoded once and no compressed byte is read twice.
TEST(TiledImageReader, DecodesEachTileOnceWhenEveryRowIsRead) {
    const fs::path folder = CORVANE_COMPRESSED_FIXTURES;
    const struct {
        const char* name;
        std::uint64_t tiles;
    } cases[] = {{"starfield-1024x768.rice-64.fits.fz", 16 * 12},
                 {"rgb-cube.rice.fits.fz", 3 * 320},
                 {"rgb-cube.rice-whole.fits.fz", 1}};
    for (const auto& c : cases) {
        const std::string bytes = contents(folder / c.name);
        cvtest::BytesReader file(bytes);
        cv::ImageData data;
        ASSERT_EQ(cv::readImageHeader(file, data), cv::ReadStatus::Ok) << c.name;
        cv::TiledImageReader tiles(file, data.image, 1 << 26);
        const std::uint64_t rowBytes = tiles.size() / (data.image.height * data.image.channels);
        std::vector<std::uint8_t> row(rowBytes);
        for (std::uint64_t y = 0; y < data.image.height; ++y)
            for (std::uint64_t plane = 0; plane < data.image.channels; ++plane)
                ASSERT_TRUE(
                    tiles.read((plane * data.image.height + y) * rowBytes, row.data(), rowBytes))
                    << c.name;
        EXPECT_EQ(tiles.decoder().tilesDecoded(), c.tiles) << c.name;
        EXPECT_LE(tiles.decoder().bytesRead(), bytes.size()) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Fpack, CompressedFits, testing::ValuesIn(compressedFixtures()),
                         [](const auto& fixture) { return cvtest::testNameOf(fixture.param); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CompressedFits);

}  // namespace
