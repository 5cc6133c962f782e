// How pictures use the display's grey levels, measured on what the shell
// shows: smooth linear skies without bands, dim frames spread over the
// display, processed pictures as they were made.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <vector>

#include "cli/file_reader.h"
#include "support/generated_samples.h"
#include "support/shell_render.h"
#include "support/test_readers.h"

namespace {

struct Tones {
    double unusedShare = 0.0;  // of the levels between the 5th and 95th percentile, worst channel
    int median = 0;            // of the channels' mean
    int low = 0;               // 1st percentile
    int high = 0;              // 99th percentile
};

int percentile(std::vector<int> values, double fraction) {
    const auto place = values.begin() + static_cast<std::ptrdiff_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), place, values.end());
    return *place;
}

double unusedShare(const std::vector<int>& levels) {
    const int from = percentile(levels, 0.05);
    const int to = percentile(levels, 0.95);
    if (to <= from) return 0.0;
    std::array<bool, 256> used{};
    for (const int level : levels) used[static_cast<std::size_t>(level)] = true;
    int unused = 0;
    for (int level = from; level <= to; ++level) unused += used[static_cast<std::size_t>(level)] ? 0 : 1;
    return static_cast<double>(unused) / (to - from + 1);
}

Tones tonesOf(const cv::RgbImage& image) {
    std::array<std::vector<int>, 3> channels;
    std::vector<int> means;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* pixel = image.row(y);
        for (std::uint32_t x = 0; x < image.width; ++x, pixel += 3) {
            for (std::size_t c = 0; c < 3; ++c) channels[c].push_back(pixel[c]);
            means.push_back((pixel[0] + pixel[1] + pixel[2] + 1) / 3);
        }
    }
    Tones tones;
    for (const auto& channel : channels) tones.unusedShare = std::max(tones.unusedShare, unusedShare(channel));
    tones.median = percentile(means, 0.5);
    tones.low = percentile(means, 0.01);
    tones.high = percentile(means, 0.99);
    return tones;
}

// A generated sample's name, or an external file's path below the test data.
std::unique_ptr<cv::Reader> openPicture(const std::string& name, std::string& bytes) {
    if (!name.ends_with(".fits") || name.find('/') == std::string::npos) {
        bytes = cvtest::generatedSample(name);
        return std::make_unique<cvtest::BytesReader>(bytes);
    }
    const auto path = std::filesystem::path(CORVANE_EXTERNAL_TESTDATA) / name;
    if (!std::filesystem::exists(path)) return nullptr;
    return corvane_cli::FileReader::open(path.string());
}

// The thumbnail's and the preview's tones; empty when an external file is not here.
std::vector<Tones> tonesAtBothSizes(const std::string& name) {
    std::string bytes;
    const auto reader = openPicture(name, bytes);
    if (reader == nullptr) return {};
    std::vector<Tones> sizes;
    for (const bool preview : {false, true}) {
        cv::RgbImage image;
        EXPECT_EQ(cvtest::renderAsShellDoes(*reader, preview, image), cv::ReadStatus::Ok) << name;
        sizes.push_back(tonesOf(image));
    }
    return sizes;
}

TEST(PictureTones, SmoothLinearSkiesDrawWithoutBands) {
    for (const char* name : {"starfield-1024x768.fits", "bitpix16.fits", "rggb-mosaic.fits", "rgb-cube.fits",
                             "sky-on-pedestal.fits", "sky-filled-by-nebula.fits", "format-UInt16.xisf",
                             "fitsrs/HST_NICMOS.fits", "nebulosa/STAR_FOCUS_1.fits"}) {
        for (const Tones& tones : tonesAtBothSizes(name)) EXPECT_LE(tones.unusedShare, 0.10) << name;
    }
}

struct DimFrame {
    const char* name;
    int minMedian;
    int minContrast;  // levels between the 1st and 99th percentile
};

TEST(PictureTones, DimAndBrightLinearFramesFillTheDisplay) {
    const DimFrame frames[] = {
        {"nebulosa/1.fits", 40, 0},           // a guide frame's sky at 5 units of 65535
        {"nebulosa/HorseHead.fits", 40, 150},  // uses a sixth of the range as stored
        {"sky-on-pedestal.fits", 40, 60},
        {"sky-filled-by-nebula.fits", 40, 100},
    };
    for (const DimFrame& frame : frames) {
        for (const Tones& tones : tonesAtBothSizes(frame.name)) {
            EXPECT_GE(tones.median, frame.minMedian) << frame.name;
            EXPECT_GE(tones.high - tones.low, frame.minContrast) << frame.name;
        }
    }
}

struct ProcessedPicture {
    const char* name;
    Tones look;  // as drawn since pictures were first pinned
};

TEST(PictureTones, ProcessedPicturesKeepTheirLook) {
    const ProcessedPicture pictures[] = {
        {"nebulosa/NGC3344.Mono.16.fits", {0.0, 63, 15, 194}},
        {"nebulosa/NGC3344.Color.8.fits", {0.0, 59, 19, 184}},
        {"nebulosa/Flower.fits", {0.0, 70, 8, 191}},
    };
    for (const ProcessedPicture& picture : pictures) {
        for (const Tones& tones : tonesAtBothSizes(picture.name)) {
            EXPECT_NEAR(tones.median, picture.look.median, 2) << picture.name;
            EXPECT_NEAR(tones.low, picture.look.low, 2) << picture.name;
            EXPECT_NEAR(tones.high, picture.look.high, 2) << picture.name;
        }
    }
}

}  // namespace
