// Renders of sources whose every read takes a while, timed by a fake clock
// that each read moves on: the budget is held to the read under way when
// the time ran out, whatever a read costs, and what was read by then is drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "preview/preview_picture.h"
#include "render/clocked_reader.h"
#include "render/render_profiles.h"
#include "support/generated_samples.h"
#include "support/test_readers.h"

namespace {

constexpr std::int64_t kNsPerMs = 1000000;
std::atomic<std::int64_t> gFakeNs{0};

std::int64_t fakeNow() {
    return gFakeNs.load();
}

// A source, read one range per call, whose every read takes `readMs` of the
// fake clock; it notes when the last read began.
class TickingReader final : public cv::Reader {
public:
    TickingReader(std::string bytes, std::int64_t readMs)
        : bytes_(std::move(bytes)), readMs_(readMs) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        lastReadStartMs = gFakeNs.load() / kNsPerMs;
        ++reads;
        gFakeNs += readMs_ * kNsPerMs;
        return bytes_.read(offset, destination, count);
    }
    std::int64_t lastReadStartMs = -1;
    int reads = 0;

private:
    cvtest::BytesReader bytes_;
    std::int64_t readMs_;
};

struct SlowThumbnail {
    cv::ReadStatus status = cv::ReadStatus::Ok;
    cv::RgbImage image;
    cv::RenderReport report;
};

// As the thumbnail provider draws it: the budget starts before the header.
SlowThumbnail thumbnailOf(TickingReader& reader) {
    gFakeNs = 0;
    cv::RenderBudget budget = cv::thumbnailBudget();
    budget.clock = fakeNow;
    budget.startTime = fakeNow();
    SlowThumbnail result;
    cv::ImageData data;
    result.status = cv::readHeaderWithinBudget(reader, budget, data);
    if (result.status != cv::ReadStatus::Ok) return result;
    result.status = cv::renderImage(reader, data, cv::thumbnailOptions(256, {}), budget,
                                    result.image, &result.report);
    return result;
}

bool everyRowInked(const cv::RgbImage& image) {
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.row(y);
        if (std::all_of(row, row + image.width * 3, [](std::uint8_t b) { return b == 0; }))
            return false;
    }
    return true;
}

// A plain frame, one of three planes and a mosaic, from reads costing a
// little to a quarter of the budget each. Three planes are read plane after
// plane for the first batch of rows: a source that slow finishes no row of
// them in time, and draws nothing.
TEST(SlowSource, NoReadStartsOnceTheThumbnailsTimeIsUp) {
    struct Case {
        const char* file;
        std::int64_t readMs;
        bool drawn;
    } cases[] = {
        {"starfield-1920x1280.fits", 2, true},
        {"starfield-1920x1280.fits", 50, true},
        {"starfield-1920x1280.fits", 200, true},
        {"starfield-1920x1280.fits", 1000, true},
        {"rgb-cube.fits", 2, true},
        {"rgb-cube.fits", 50, true},
        {"rgb-cube.fits", 200, false},
        {"rggb-mosaic.fits", 2, true},
        {"rggb-mosaic.fits", 50, true},
        {"rggb-mosaic.fits", 200, true},
        {"rggb-mosaic.fits", 1000, true},
    };
    for (const Case& c : cases) {
        TickingReader reader(cvtest::generatedSample(c.file), c.readMs);
        const SlowThumbnail result = thumbnailOf(reader);
        const std::string where = std::string(c.file) + ", " + std::to_string(c.readMs) + " ms";
        EXPECT_LT(reader.lastReadStartMs, cv::kThumbnailTimeLimitMs) << where;
        if (!c.drawn) {
            EXPECT_EQ(result.status, cv::ReadStatus::TimedOut) << where;
            continue;
        }
        EXPECT_TRUE(result.status == cv::ReadStatus::Ok || result.status == cv::ReadStatus::Partial)
            << where << ": " << cv::readStatusName(result.status);
        EXPECT_EQ(result.image.width, 256u) << where;
        EXPECT_GT(result.image.height, 170u) << where;
        EXPECT_GT(result.report.rowsRead, 0u) << where;
        EXPECT_TRUE(everyRowInked(result.image)) << where << ": rows not read are filled in";
    }
}

TEST(SlowSource, AReadOutlastingTheBudgetLeavesNoPictureAndNoFurtherRead) {
    TickingReader reader(cvtest::generatedSample("starfield-1920x1280.fits"),
                         cv::kThumbnailTimeLimitMs + 1);
    const SlowThumbnail result = thumbnailOf(reader);
    EXPECT_EQ(reader.reads, 1) << "the header's first read, begun in time";
    EXPECT_TRUE(result.image.empty());
    EXPECT_NE(result.status, cv::ReadStatus::Ok);
    EXPECT_NE(result.status, cv::ReadStatus::Partial);
}

TEST(SlowSource, ThePreviewsPassesEachHoldTheirTime) {
    struct Case {
        const char* file;
        std::int64_t limitMs;  // from the header's first read to the last read's start
    } files[] = {
        {"starfield-1920x1280.fits", cv::kPreviewFullTimeLimitMs},
        // The quick pass may end one read late, then the full pass starts.
        {"thumbnail-400x300.xisf", cv::kPreviewQuickTimeLimitMs + cv::kPreviewFullTimeLimitMs},
    };
    for (const Case& file : files) {
        for (const std::int64_t readMs : {50, 200}) {
            TickingReader reader(cvtest::generatedSample(file.file), readMs);
            gFakeNs = 0;
            cv::PreviewPicture preview;
            const cv::ReadStatus status =
                cv::loadPreviewPicture(reader, cv::RenderSettings{}, nullptr, preview, fakeNow);
            const std::string where =
                std::string(file.file) + ", " + std::to_string(readMs) + " ms";
            ASSERT_EQ(status, cv::ReadStatus::Ok) << where;
            EXPECT_LT(reader.lastReadStartMs, file.limitMs + readMs) << where;
            EXPECT_FALSE(preview.picture.empty()) << where;
        }
    }
}

// 1920 x 1280 drawn 256 x 171: the first pass reads each band's middle row, then each band's
// rows above it and those below in a call each, beside the header's three reads.
TEST(SlowSource, ASourceReadRangeByRangeGetsOneCallPerRunOfRows) {
    TickingReader reader(cvtest::generatedSample("starfield-1920x1280.fits"), 0);
    const SlowThumbnail result = thumbnailOf(reader);
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.report.rowsRead, 1280u);
    EXPECT_EQ(reader.reads, 3 + 171 + 2 * 171);
}

}  // namespace
