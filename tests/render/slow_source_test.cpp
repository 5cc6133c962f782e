// Sources whose every read moves a fake clock on: no read starts once the
// budget's time is up, whatever a read costs, and what was read is drawn.
#include <gtest/gtest.h>

#include <atomic>

#include "preview/preview_picture.h"
#include "render/clocked_reader.h"
#include "render/render_profiles.h"
#include "support/generated_samples.h"

namespace {

std::atomic<std::int64_t> gFakeMs{0};

std::int64_t fakeNow() {
    return gFakeMs * 1000000;
}

// A generated sample read one range a call, each read taking `readMs`.
struct TickingReader final : cv::Reader {
    TickingReader(const char* sample, std::int64_t ms)
        : bytes(cvtest::generatedSample(sample)), readMs(ms) {
        gFakeMs = 0;
    }
    std::uint64_t size() const override { return bytes.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        lastStartMs = gFakeMs;
        ++reads;
        gFakeMs += readMs;
        return cv::MemoryReader(bytes.data(), bytes.size()).read(offset, destination, count);
    }
    std::string bytes;
    std::int64_t readMs;
    std::int64_t lastStartMs = -1;
    int reads = 0;
};

// As the thumbnail provider draws it: the budget starts before the header.
cv::ReadStatus thumbnailOf(cv::Reader& reader, cv::RgbImage& image, cv::RenderReport& report) {
    cv::RenderBudget budget = cv::thumbnailBudget();
    budget.clock = fakeNow;
    budget.startTime = fakeNow();
    cv::ImageData data;
    const cv::ReadStatus header = cv::readHeaderWithinBudget(reader, budget, data);
    if (header != cv::ReadStatus::Ok) return header;
    return cv::renderImage(reader, data, cv::thumbnailOptions(256, {}), budget, image, &report);
}

// Three planes are read plane after plane for the first batch of rows: at
// 200 ms a read, none of those rows is whole in time. A read as long as the
// whole budget leaves too little to draw.
TEST(SlowSource, NoReadStartsOnceTheThumbnailsTimeIsUp) {
    const struct {
        const char* file;
        std::int64_t readMs;
        bool drawn;
    } cases[] = {{"starfield-1920x1280.fits", 2, true},
                 {"starfield-1920x1280.fits", 50, true},
                 {"starfield-1920x1280.fits", 200, true},
                 {"starfield-1920x1280.fits", 1000, true},
                 {"starfield-1920x1280.fits", 4000, false},
                 {"rgb-cube.fits", 50, true},
                 {"rgb-cube.fits", 200, false},
                 {"rggb-mosaic.fits", 50, true},
                 {"rggb-mosaic.fits", 1000, true}};
    for (const auto& c : cases) {
        TickingReader reader(c.file, c.readMs);
        cv::RgbImage image;
        cv::RenderReport report;
        const cv::ReadStatus status = thumbnailOf(reader, image, report);
        const std::string where = std::string(c.file) + ", " + std::to_string(c.readMs) + " ms";
        EXPECT_LT(reader.lastStartMs, cv::kThumbnailTimeLimitMs) << where;
        EXPECT_EQ(status == cv::ReadStatus::Ok || status == cv::ReadStatus::Partial, c.drawn)
            << where << ": " << cv::readStatusName(status);
        EXPECT_EQ(image.empty(), !c.drawn) << where;
        EXPECT_EQ(report.rowsRead > 0, c.drawn) << where;
    }
}

// 1920 x 1280 drawn 256 x 171: besides the header's three reads, the first
// pass reads each band's middle row, then each band's rows above and below
// it in a read each.
TEST(SlowSource, ASourceReadRangeByRangeGetsOneReadPerRunOfRows) {
    TickingReader reader("starfield-1920x1280.fits", 0);
    cv::RgbImage image;
    cv::RenderReport report;
    ASSERT_EQ(thumbnailOf(reader, image, report), cv::ReadStatus::Ok);
    EXPECT_EQ(report.rowsRead, 1280u);
    EXPECT_EQ(reader.reads, 3 + 171 + 2 * 171);
}

// The header counts against the first pass; after a quick pass, which may
// end a read late, the full pass has its own time.
TEST(SlowSource, ThePreviewsPassesEachHoldTheirTime) {
    const struct {
        const char* file;
        std::int64_t limitMs;
    } cases[] = {
        {"starfield-1920x1280.fits", cv::kPreviewFullTimeLimitMs},
        {"thumbnail-400x300.xisf", cv::kPreviewQuickTimeLimitMs + cv::kPreviewFullTimeLimitMs}};
    for (const auto& c : cases) {
        for (const std::int64_t readMs : {50, 200}) {
            TickingReader reader(c.file, readMs);
            cv::PreviewPicture preview;
            EXPECT_EQ(cv::loadPreviewPicture(reader, {}, nullptr, preview, fakeNow),
                      cv::ReadStatus::Ok);
            EXPECT_LT(reader.lastStartMs, c.limitMs + readMs) << c.file << ", " << readMs << " ms";
            EXPECT_FALSE(preview.picture.empty());
        }
    }
}

}  // namespace
