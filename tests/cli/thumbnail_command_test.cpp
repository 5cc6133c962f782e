// `corvane thumbnail` run as a user runs it: pictures, sizes, failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "samples/fits_writer.h"
#include "support/fits_builder.h"
#include "support/tool_runner.h"

namespace {

using cvtest::runTool;

struct PngSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Width and height from the IHDR chunk of a PNG file.
PngSize pngSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[24] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    if (!in || header[1] != 'P' || header[2] != 'N' || header[3] != 'G') return {};
    auto be32 = [&](int at) {
        return static_cast<std::uint32_t>(header[at] << 24 | header[at + 1] << 16 |
                                          header[at + 2] << 8 | header[at + 3]);
    };
    return {be32(16), be32(20)};
}

std::string starField(std::uint32_t width, std::uint32_t height) {
    cvsamples::FitsHeader header = cvsamples::primaryImageHeader(16, {width, height});
    header.real("BZERO", 32768.0);
    std::vector<std::int16_t> samples;
    for (std::uint32_t i = 0; i < width * height; ++i)
        samples.push_back(static_cast<std::int16_t>(-31000 + static_cast<int>(i % 17)));
    return header.bytes() + cvsamples::padData(cvsamples::bigEndianBytes(samples));
}

class ThumbnailCommand : public cvtest::ToolTest {};

TEST_F(ThumbnailCommand, WritesAPngOfTheRequestedSize) {
    const auto input = write("sky.fits", starField(600, 400));
    struct Case {
        const char* flags;
        PngSize size;
    } cases[] = {
        {"", {256, 171}},          {"--size 0", {256, 171}},
        {"--size 100", {100, 67}}, {"--size 1000", {600, 400}},
        {"--preview", {600, 400}}, {"--no-stretch --brightness darker --cfa mono", {256, 171}},
    };
    for (const auto& c : cases) {
        const auto output = pathOf("out.png");
        std::filesystem::remove(output);
        const auto run = runTool("thumbnail " + input + " -o " + output + " " + c.flags);
        ASSERT_EQ(run.exitCode, 0) << c.flags;
        const PngSize size = pngSize(output);
        EXPECT_EQ(size.width, c.size.width) << c.flags;
        EXPECT_EQ(size.height, c.size.height) << c.flags;
    }
}

TEST_F(ThumbnailCommand, ReportsTheRenderAsJson) {
    const auto run = runTool("thumbnail " + write("sky.fits", starField(60, 40)) + " -o " +
                             pathOf("out.png") + " --report");
    ASSERT_EQ(run.exitCode, 0);
    const auto json = nlohmann::json::parse(run.output);
    EXPECT_EQ(json["status"], "Ok");
    EXPECT_EQ(json["width"], 60);
    EXPECT_EQ(json["sourceWidth"], 60);
    EXPECT_EQ(json["rowsRead"], 40);
    EXPECT_EQ(json["demosaiced"], false);
    EXPECT_TRUE(json["statistics"]["valid"].get<bool>());
    EXPECT_EQ(json["stretch"]["midtones"].size(), 4u);
    EXPECT_TRUE(json.contains("peakWeight"));
}

TEST_F(ThumbnailCommand, FailureWritesNoFileAndNamesTheStatus) {
    const auto output = pathOf("never.png");
    std::string cut = starField(600, 400);
    cut.resize(cut.size() - 100000);
    EXPECT_EQ(runTool("thumbnail " + write("cut.fits", cut) + " -o " + output).exitCode, 1);
    EXPECT_EQ(runTool("thumbnail " + write("text.fits", "not an image") + " -o " + output).exitCode,
              1);
    EXPECT_FALSE(std::filesystem::exists(output));
    const auto report = runTool("thumbnail " + pathOf("cut.fits") + " -o " + output + " --report");
    EXPECT_EQ(nlohmann::json::parse(report.output)["status"], "Truncated")
        << "the data does not fit the file";
}

TEST_F(ThumbnailCommand, DrawsSizesPastTheLargestAtTheLargest) {
    const auto input = write("wide.fits", cvtest::primaryImage(9000, 2));
    const auto output = pathOf("wide.png");
    ASSERT_EQ(runTool("thumbnail " + input + " -o " + output + " --size 9000").exitCode, 0);
    EXPECT_EQ(pngSize(output).width, 8192u);
}

TEST_F(ThumbnailCommand, BadUsageExitsWithTwo) {
    const auto input = write("sky.fits", starField(6, 4));
    EXPECT_EQ(runTool("thumbnail " + input).exitCode, 2) << "no output";
    EXPECT_EQ(runTool("thumbnail " + input + " -o x.png --brightness dazzling").exitCode, 2);
    EXPECT_EQ(runTool("thumbnail " + input + " -o x.png --cfa rainbow").exitCode, 2);
    EXPECT_EQ(runTool("thumbnail " + input + " -o x.png --size -3").exitCode, 2);
}

}  // namespace
