// How pictures use the display's grey levels, measured on what the shell
// shows: smooth linear skies without bands, dim frames spread over the
// display, processed pictures as they were made.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/file_reader.h"
#include "support/generated_samples.h"
#include "support/shell_render.h"
#include "support/test_readers.h"

namespace {

int percentile(std::vector<int> values, double fraction) {
    const auto place = values.begin() + static_cast<std::ptrdiff_t>(
                                            fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), place, values.end());
    return *place;
}

// Of the levels between the 5th and 95th percentile, the share no pixel takes.
double unusedShare(const std::vector<int>& levels) {
    std::array<bool, 256> used{};
    for (const int level : levels) used[static_cast<std::size_t>(level)] = true;
    const int from = percentile(levels, 0.05);
    const int to = percentile(levels, 0.95);
    return static_cast<double>(std::count(used.begin() + from, used.begin() + to + 1, false)) /
           (to - from + 1);
}

struct PictureCase {
    const char* name;  // a generated sample, or a file below the external test data
    double maxUnused;  // in the worst channel
    int minMedian;     // grey levels of the channels' mean
    int maxMedian;
    int minContrast;  // between its 1st and 99th percentile
};

TEST(PictureTones, EachPictureUsesTheDisplayAsItShould) {
    const PictureCase cases[] = {
        {"starfield-1024x768.fits", 0.1, 40, 120, 40},
        {"rggb-mosaic.fits", 0.1, 40, 120, 40},
        {"rgb-cube.fits", 0.1, 40, 120, 40},
        {"sky-on-pedestal.fits", 0.1, 40, 120, 60},  // drawn as stored before
        {"sky-filled-by-nebula.fits", 0.1, 40, 120, 100},
        {"fitsrs/HST_NICMOS.fits", 0.1, 40, 120, 40},
        {"nebulosa/STAR_FOCUS_1.fits", 0.1, 40, 120, 40},
        {"nebulosa/1.fits", 1.0, 40, 120, 0},  // a guide frame's sky at 5 units of 65535
        {"nebulosa/HorseHead.fits", 0.1, 40, 160, 150},
        {"nebulosa/NGC3344.Mono.16.fits", 0.1, 61, 65, 177},  // processed: as pinned before
        {"nebulosa/NGC3344.Color.8.fits", 0.1, 57, 61, 163},
        {"nebulosa/Flower.fits", 0.1, 68, 72, 181},
    };
    for (const PictureCase& c : cases) {
        const auto path = std::filesystem::path(CORVANE_EXTERNAL_TESTDATA) / c.name;
        const bool generated = std::string(c.name).find('/') == std::string::npos;
        if (!generated && !std::filesystem::exists(path)) continue;
        const std::string bytes = generated ? cvtest::generatedSample(c.name) : std::string();
        std::unique_ptr<cv::Reader> reader;
        if (generated)
            reader = std::make_unique<cvtest::BytesReader>(bytes);
        else
            reader = cv::FileReader::open(path.string());
        for (const bool preview : {false, true}) {
            cv::RgbImage image;
            ASSERT_EQ(cvtest::renderAsShellDoes(*reader, preview, image), cv::ReadStatus::Ok)
                << c.name;
            std::array<std::vector<int>, 3> channels;
            std::vector<int> means;
            for (std::size_t i = 0; i + 2 < image.pixels.size(); i += 3) {
                for (std::size_t k = 0; k < 3; ++k) channels[k].push_back(image.pixels[i + k]);
                means.push_back((image.pixels[i] + image.pixels[i + 1] + image.pixels[i + 2] + 1) /
                                3);
            }
            for (const auto& channel : channels)
                EXPECT_LE(unusedShare(channel), c.maxUnused) << c.name;
            const int median = percentile(means, 0.5);
            EXPECT_TRUE(median >= c.minMedian && median <= c.maxMedian)
                << c.name << ": median " << median;
            EXPECT_GE(percentile(means, 0.99) - percentile(means, 0.01), c.minContrast) << c.name;
        }
    }
}

}  // namespace
