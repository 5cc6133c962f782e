#include "render/render_image.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <limits>
#include <atomic>
#include <chrono>
#include <cmath>
#include <span>
#include <thread>
#include <utility>
#include <vector>

#include "formats/image_header.h"
#include "render/render_profiles.h"
#include "support/fits_builder.h"
#include "support/test_readers.h"

namespace {

using cvsamples::FitsHeader;
using cvsamples::primaryImageHeader;

// A FITS file that is never held in memory: the header, then samples made up
// on request, so giants cost no memory.
class SyntheticFits final : public cv::Reader {
public:
    SyntheticFits(std::uint64_t width, std::uint64_t height)
        : header_(primaryImageHeader(8, {width, height}).bytes()), dataSize_(width * height) {}
    std::uint64_t size() const override { return header_.size() + dataSize_; }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        if (count > size() || offset > size() - count) return false;
        auto* out = static_cast<std::uint8_t*>(destination);
        for (std::uint64_t i = 0; i < count; ++i, ++offset) {
            out[i] = offset < header_.size() ? static_cast<std::uint8_t>(header_[offset])
                                             : static_cast<std::uint8_t>(20 + (offset * 7919) % 13);
        }
        return true;
    }

private:
    std::string header_;
    std::uint64_t dataSize_;
};

// Counts the reads it passes on and the ranges asked for in each call, and
// sleeps before each read when asked; it is handed whole batches, as a
// source that serves them is.
class WatchedReader final : public cv::Reader {
public:
    WatchedReader(cv::Reader& inner, std::chrono::microseconds delay = {})
        : inner_(inner), delay_(delay) {}
    std::uint64_t size() const override { return inner_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        ++reads;
        if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
        return inner_.read(offset, destination, count);
    }
    bool readRanges(std::span<const cv::ReadRequest> requests) override {
        rangesPerCall.push_back(requests.size());
        return cv::Reader::readRanges(requests);
    }
    bool servesBatches() const override { return true; }
    int reads = 0;
    std::vector<std::size_t> rangesPerCall;

private:
    cv::Reader& inner_;
    std::chrono::microseconds delay_;
};

struct Rendered {
    cv::ReadStatus status = cv::ReadStatus::Ok;
    cv::RgbImage image;
    cv::RenderReport report;
};

cv::RenderBudget freshBudget(std::uint32_t timeLimitMs = 4000,
                             std::uint64_t byteLimit = 0x8000000) {
    cv::RenderBudget budget;
    budget.timeLimitMs = timeLimitMs;
    budget.byteLimit = byteLimit;
    budget.startTime = cv::steadyNowNs();
    return budget;
}

Rendered render(cv::Reader& reader, const cv::ImageData& data, const cv::RenderOptions& options,
                cv::RenderBudget budget) {
    Rendered result;
    result.status = cv::renderImage(reader, data, options, budget, result.image, &result.report);
    return result;
}

Rendered renderFile(cv::Reader& reader, const cv::RenderOptions& options,
                    cv::RenderBudget budget = freshBudget()) {
    cv::ImageData data;
    EXPECT_EQ(cv::readImageHeader(reader, data), cv::ReadStatus::Ok);
    return render(reader, data, options, budget);
}

cv::RenderOptions thumbnail(std::uint32_t size = 256) {
    return cv::thumbnailOptions(size, cv::RenderSettings{});
}

// A 16-bit FITS (BZERO 32768) whose sample at (x, y) is value(x, y).
template <typename Value>
std::string uint16Fits(std::uint32_t width, std::uint32_t height, Value value,
                       FitsHeader extra = {}) {
    FitsHeader header = primaryImageHeader(16, {width, height});
    header.real("BZERO", 32768.0);
    std::string cards = header.cards() + extra.cards();
    FitsHeader all;
    for (std::size_t i = 0; i < cards.size(); i += 80) all.raw(cards.substr(i, 80));
    std::vector<std::int16_t> samples;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x)
            samples.push_back(static_cast<std::int16_t>(value(x, y) - 32768));
    }
    return all.bytes() + cvsamples::padData(cvsamples::bigEndianBytes(samples));
}

// Sky of 1000 ADU with a little deterministic noise.
int sky(std::uint32_t x, std::uint32_t y) {
    return 1000 + static_cast<int>((x * 7 + y * 13) % 11);
}

// The sizes a render told, in order.
struct SizeRecorder final : cv::OutputSizeListener {
    void outputSized(std::uint32_t width, std::uint32_t height) noexcept override {
        told.emplace_back(width, height);
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> told;
};

TEST(RenderImage, FitsTheOutputIntoTheRequestedSizeAndTellsTheListener) {
    struct Case {
        std::uint64_t width, height;
        std::uint32_t maxSize, outWidth, outHeight;
    } cases[] = {
        {6000, 4000, 256, 256, 171}, {4000, 6000, 256, 171, 256}, {200, 100, 256, 200, 100},
        {300, 300, 256, 256, 256},   {300, 200, 0, 1, 1},
    };
    for (const auto& c : cases) {
        SyntheticFits reader(c.width, c.height);
        // A small byte budget keeps giants quick: the plan samples fewer rows.
        cv::RenderOptions options = thumbnail();
        SizeRecorder recorder;
        options.sizeListener = &recorder;
        options.maxSize =
            c.maxSize;  // the provider maps 0 to 256; the renderer itself treats it as 1
        const auto result = renderFile(reader, options, freshBudget(4000, 1 << 20));
        ASSERT_TRUE(result.status == cv::ReadStatus::Ok ||
                    result.status == cv::ReadStatus::Partial);
        EXPECT_EQ(result.image.width, c.outWidth) << c.width << " x " << c.height;
        EXPECT_EQ(result.image.height, c.outHeight) << c.width << " x " << c.height;
        const std::vector<std::pair<std::uint32_t, std::uint32_t>> once{{c.outWidth, c.outHeight}};
        EXPECT_EQ(recorder.told, once) << c.width << " x " << c.height;
    }
}

TEST(RenderImage, SubsamplesRowsWhenTheFileExceedsThePlanningBudget) {
    SyntheticFits reader(6000, 4000);
    const auto result = renderFile(reader, thumbnail(), freshBudget(4000, 1 << 20));
    EXPECT_TRUE(result.report.rowsSubsampled);
    EXPECT_EQ(result.report.rowsRead, 171u) << "one row per output row";
    EXPECT_FALSE(result.report.demosaiced);
}

bool isGrey(const cv::RgbImage& image) {
    for (std::size_t i = 0; i < image.pixels.size(); i += 3) {
        if (image.pixels[i] != image.pixels[i + 1] || image.pixels[i] != image.pixels[i + 2])
            return false;
    }
    return true;
}

// An RGGB mosaic of an orange scene: red cells bright, green middling, blue dim.
std::string orangeMosaic(const char* imagetyp) {
    FitsHeader extra;
    extra.text("BAYERPAT", "RGGB");
    if (imagetyp != nullptr) extra.text("IMAGETYP", imagetyp);
    return uint16Fits(
        64, 48,
        [](std::uint32_t x, std::uint32_t y) {
            const int level =
                (y % 2 == 0) ? (x % 2 == 0 ? 3000 : 2000) : (x % 2 == 0 ? 2000 : 1000);
            return level + sky(x, y) - 1000;
        },
        extra);
}

TEST(RenderImage, DemosaicsBayerDataIntoColourAtHalfResolution) {
    cvtest::BytesReader reader(orangeMosaic("Light Frame"));
    const auto result = renderFile(reader, thumbnail());
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_TRUE(result.report.demosaiced);
    EXPECT_EQ(result.image.width, 32u);
    EXPECT_EQ(result.image.height, 24u);
    EXPECT_FALSE(isGrey(result.image));
    EXPECT_FALSE(result.report.stretch.linked) << "each colour is balanced by its own statistics";
}

TEST(RenderImage, BlendsBoxPeaksInOnlyWhenAsked) {
    // One bright pixel in a 64 x 64 sky, drawn 8 x 8: its box, at (2, 2), shows it only with peaks
    // blended in.
    auto star = [](std::uint32_t x, std::uint32_t y) {
        return x == 20 && y == 20 ? 60000 : sky(x, y);
    };
    cvtest::BytesReader plainBytes(uint16Fits(64, 64, star));
    cvtest::BytesReader blendedBytes(uint16Fits(64, 64, star));
    cv::RenderOptions peaks = thumbnail(8);
    peaks.peaks.blend = 1.0f;
    const auto plain = renderFile(plainBytes, thumbnail(8));
    const auto blended = renderFile(blendedBytes, peaks);
    ASSERT_EQ(plain.status, cv::ReadStatus::Ok);
    ASSERT_EQ(blended.status, cv::ReadStatus::Ok);
    EXPECT_EQ(plain.report.peakWeight, 0.0f);
    EXPECT_GT(blended.report.peakWeight, 0.0f);
    EXPECT_GT(blended.image.row(2)[2 * 3], plain.image.row(2)[2 * 3]);
    EXPECT_EQ(blended.image.row(5)[5 * 3], plain.image.row(5)[5 * 3])
        << "a box of sky alone is unchanged";
}

TEST(RenderImage, KeepsCalibrationFramesAndMonoModeGrey) {
    cvtest::BytesReader dark(orangeMosaic("Dark Frame"));
    const auto darkResult = renderFile(dark, thumbnail());
    ASSERT_EQ(darkResult.status, cv::ReadStatus::Ok);
    EXPECT_FALSE(darkResult.report.demosaiced);
    EXPECT_EQ(darkResult.image.width, 64u);
    EXPECT_TRUE(isGrey(darkResult.image));

    cvtest::BytesReader light(orangeMosaic("Light Frame"));
    cv::RenderOptions mono = thumbnail();
    mono.cfaMode = cv::CfaMode::AlwaysMono;
    EXPECT_FALSE(renderFile(light, mono).report.demosaiced);

    cv::RenderOptions colour = thumbnail();
    colour.cfaMode = cv::CfaMode::AlwaysColor;
    cvtest::BytesReader darkAgain(orangeMosaic("Dark Frame"));
    EXPECT_TRUE(renderFile(darkAgain, colour).report.demosaiced)
        << "always colour ignores the frame type";
}

TEST(RenderImage, ProbesForAMosaicOnlyInAlwaysColourMode) {
    auto cells = [](std::array<int, 4> levels) {
        return uint16Fits(64, 64, [levels](std::uint32_t x, std::uint32_t y) {
            return levels[(y % 2) * 2 + (x % 2)];
        });
    };
    cv::RenderOptions colour = thumbnail();
    colour.cfaMode = cv::CfaMode::AlwaysColor;
    cvtest::BytesReader mosaic(cells({1000, 1030, 1000, 1010}));
    EXPECT_TRUE(renderFile(mosaic, colour).report.demosaiced);
    cvtest::BytesReader flat(cells({1000, 1010, 1000, 1005}));
    EXPECT_FALSE(renderFile(flat, colour).report.demosaiced);
    cvtest::BytesReader automatic(cells({1000, 1030, 1000, 1010}));
    EXPECT_FALSE(renderFile(automatic, thumbnail()).report.demosaiced)
        << "automatic mode needs a declared pattern";
}

void expectNoBlackRow(const cv::RgbImage& image) {
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.row(y);
        ASSERT_TRUE(std::any_of(row, row + image.width * 3, [](std::uint8_t b) { return b != 0; }))
            << "row " << y << " is black";
    }
}

TEST(RenderImage, SlowSourceGivesAPartialButCompletePicture) {
    cvtest::BytesReader bytes(uint16Fits(16, 2000, sky));
    cv::ImageData data;
    ASSERT_EQ(cv::readImageHeader(bytes, data), cv::ReadStatus::Ok);
    // The first batch of 16 rows alone outlasts twice the time budget.
    WatchedReader slow(bytes, std::chrono::milliseconds(10));
    const auto result = render(slow, data, thumbnail(2000), freshBudget(50));
    ASSERT_EQ(result.status, cv::ReadStatus::Partial);
    EXPECT_TRUE(result.report.budgetExhausted);
    EXPECT_EQ(result.report.firstPassRows, 16u);
    EXPECT_FALSE(result.report.smoothed) << "fewer than 24 rows are not smoothed";
    ASSERT_EQ(result.image.height, 2000u);
    expectNoBlackRow(result.image);
}

TEST(RenderImage, ByteBudgetEndsTheFirstPassEarlyAndSmoothsAThinPicture) {
    cvtest::BytesReader bytes(uint16Fits(16, 2000, sky));
    const std::uint64_t rowBytes = 16 * 2;
    const auto result = renderFile(bytes, thumbnail(2000), freshBudget(60000, 40 * rowBytes));
    ASSERT_EQ(result.status, cv::ReadStatus::Partial);
    // Once the budget is spent the first pass still finishes, with steps of an
    // eighth of what remains, so the whole height is covered.
    EXPECT_GE(result.report.bytesReadHere, 40 * rowBytes);
    EXPECT_GE(result.report.firstPassRows, 40u);
    EXPECT_LT(result.report.firstPassRows, 200u);
    EXPECT_TRUE(result.report.smoothed);
    EXPECT_GT(result.report.largestSkip, 0u);
    expectNoBlackRow(result.image);
}

TEST(RenderImage, MosaicPassTheBytesLeftCannotPayForIsNotStarted) {
    FitsHeader pattern;
    pattern.text("BAYERPAT", "RGGB");
    // 4 x 3000 cells drawn 1 x 1000: three cells a band, each visit two rows of 16 bytes.
    cvtest::BytesReader bytes(uint16Fits(8, 6000, sky, pattern));
    const auto result = renderFile(bytes, thumbnail(1000), freshBudget(60000, 50000));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    ASSERT_TRUE(result.report.demosaiced);
    EXPECT_FALSE(result.report.budgetExhausted) << "18,000 bytes left, a second pass costs 32,000";
    EXPECT_EQ(result.report.bytesReadHere, 32000u);
    expectNoBlackRow(result.image);
}

TEST(RenderImage, PassesAfterTheFirstAskForEachBandsRowsInOneCall) {
    cvtest::BytesReader bytes(uint16Fits(16, 2000, sky));
    WatchedReader watched(bytes);
    // 1 x 100 pixels of 20-row bands: the middle rows 16 at a time, then each band's other 19 at
    // once.
    const auto result = renderFile(watched, thumbnail(100));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_EQ(result.report.rowsRead, 2000u);
    const auto& calls = watched.rangesPerCall;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), 19u), 100);
    EXPECT_EQ(calls.size(), 107u);
}

TEST(RenderImage, MosaicsFirstPassAsksForTheNextPairsInOneCall) {
    FitsHeader pattern;
    pattern.text("BAYERPAT", "RGGB");
    cvtest::BytesReader bytes(uint16Fits(8, 6000, sky, pattern));
    WatchedReader watched(bytes);
    // 4 x 3000 cells drawn 1 x 1000: the middle pairs 9 at a time (18 rows a call), then each
    // band's other 4 rows.
    const auto result = renderFile(watched, thumbnail(1000));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    ASSERT_TRUE(result.report.demosaiced);
    EXPECT_EQ(result.report.rowsRead, 6000u);
    const auto& calls = watched.rangesPerCall;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), 18u), 111);
    EXPECT_EQ(calls.size(), 112u + 1000u);
}

// A source that does not lend its bytes but has twins, which count the
// bytes they are asked for and fail every read past `twinsFailFrom`.
class TwinningReader final : public cv::Reader {
public:
    TwinningReader(const std::string& bytes, std::uint64_t twinsFailFrom,
                   std::atomic<std::uint64_t>* counted = nullptr)
        : bytes_(bytes),
          memory_(bytes.data(), bytes.size()),
          failFrom_(twinsFailFrom),
          counted_(counted) {}
    std::uint64_t size() const override { return memory_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        if (counted_ != nullptr) {
            *counted_ += count;
            if (offset + count > failFrom_) return false;
        }
        return memory_.read(offset, destination, count);
    }
    std::unique_ptr<cv::Reader> twin() override {
        return std::make_unique<TwinningReader>(bytes_, failFrom_, &twinBytes);
    }
    std::atomic<std::uint64_t> twinBytes{0};

private:
    const std::string& bytes_;
    cv::MemoryReader memory_;
    std::uint64_t failFrom_;
    std::atomic<std::uint64_t>* counted_;
};

// A host's lane thread that runs the second lane's work as soon as it is
// started, so that lane takes every group of bands before the render's own.
class EagerLaneThread final : public cv::LaneThread {
public:
    bool mayStart() const override { return true; }
    bool start(cv::LaneWork& work) override {
        work.run();
        return true;
    }
    bool join() override { return true; }
};

// A source with twins, or one that lends its bytes, lets a second thread add
// bands: the same picture, statistics and counts as one thread's; on a
// host's lane thread too, and when the twin fails, the render's own thread
// reads what the twin could not.
TEST(RenderImage, ATwinOfTheSourceAddsBandsOnASecondThread) {
    FitsHeader pattern;
    pattern.text("BAYERPAT", "RGGB");
    auto varied = [](std::uint32_t x, std::uint32_t y) {
        return 1000 + static_cast<int>((x * y + 3 * x) % 997);
    };
    EagerLaneThread eager;
    for (const FitsHeader& extra : {FitsHeader{}, pattern}) {
        const std::string file = uint16Fits(600, 2000, varied, extra);
        cvtest::BytesReader alone(file);
        const auto one = renderFile(alone, thumbnail(128));
        TwinningReader twinned(file, std::numeric_limits<std::uint64_t>::max());
        TwinningReader eagerTwinned(file, std::numeric_limits<std::uint64_t>::max());
        cv::MemoryReader lending(file.data(), file.size());
        ASSERT_EQ(one.status, cv::ReadStatus::Ok);
        cv::RenderOptions twoLanes = thumbnail(128);
        twoLanes.secondThread = true;
        cv::RenderOptions onHostLane = twoLanes;
        onHostLane.laneThread = &eager;
        for (auto [reader, options] : {std::pair{static_cast<cv::Reader*>(&twinned), twoLanes},
                                       {static_cast<cv::Reader*>(&lending), twoLanes},
                                       {static_cast<cv::Reader*>(&eagerTwinned), onHostLane}}) {
            const auto two = renderFile(*reader, options);
            ASSERT_EQ(two.status, cv::ReadStatus::Ok);
            EXPECT_EQ(two.image.pixels, one.image.pixels);
            for (std::uint32_t c = 0; c < 3; ++c) {
                EXPECT_EQ(two.report.statistics.median[c], one.report.statistics.median[c]);
                EXPECT_EQ(two.report.statistics.mad[c], one.report.statistics.mad[c]);
            }
            EXPECT_EQ(two.report.bytesReadHere, one.report.bytesReadHere);
            EXPECT_EQ(two.report.rowsRead, 2000u);
        }
        EXPECT_GT(eagerTwinned.twinBytes, file.size() / 2);

        TwinningReader failing(file, file.size() / 2);
        const auto left = renderFile(failing, onHostLane);
        ASSERT_EQ(left.status, cv::ReadStatus::Ok) << "the group the twin failed is read here";
        EXPECT_EQ(left.image.pixels, one.image.pixels);
    }
}

// A source that reads ahead lazily: it keeps each batch and reads it only
// when collected, so rows added before their collection would show; every
// collection from the `failFrom`-th on fails. Batches dropped, read for
// nothing, are counted.
class ReadingAheadReader final : public cv::Reader {
public:
    ReadingAheadReader(const std::string& bytes, int failFrom)
        : memory_(bytes.data(), bytes.size()), failFrom_(failFrom) {}
    std::uint64_t size() const override { return memory_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        EXPECT_TRUE(batch_.empty()) << "read while a batch is read ahead";
        return memory_.read(offset, destination, count);
    }
    bool readsAhead() const override { return true; }
    bool readAhead(std::span<const cv::ReadRequest> requests) override {
        batch_.assign(requests.begin(), requests.end());
        return true;
    }
    bool collectAhead() override {
        const bool delivered = ++batches < failFrom_ && memory_.readRanges(batch_);
        batch_.clear();
        return delivered;
    }
    void dropAhead() override {
        if (!batch_.empty()) ++dropped;
        static_cast<void>(collectAhead());
    }
    int batches = 0;
    int dropped = 0;

private:
    cv::MemoryReader memory_;
    int failFrom_;
    std::vector<cv::ReadRequest> batch_;
};

// A 16-bit RGB cube whose plane p holds value(x, y + p * height).
template <typename Value>
std::string uint16Cube(std::uint32_t width, std::uint32_t height, Value value) {
    FitsHeader header = primaryImageHeader(16, {width, height, 3});
    header.real("BZERO", 32768.0);
    std::vector<std::int16_t> samples;
    for (std::uint32_t y = 0; y < 3 * height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x)
            samples.push_back(static_cast<std::int16_t>(value(x, y) - 32768));
    }
    return header.bytes() + cvsamples::padData(cvsamples::bigEndianBytes(samples));
}

// The next band, batch, or plane of a batch is read ahead: the same picture
// and counts as reading each when it comes, none read for nothing, and a
// failed collection fails the render.
TEST(RenderImage, ASourceThatReadsAheadIsGivenTheNextRowsWhileTheLastAreAdded) {
    FitsHeader pattern;
    pattern.text("BAYERPAT", "RGGB");
    auto varied = [](std::uint32_t x, std::uint32_t y) {
        return 1000 + static_cast<int>((x * y + 3 * x) % 997);
    };
    for (const std::string& file :
         {uint16Fits(600, 2000, varied), uint16Fits(600, 2000, varied, pattern),
          uint16Cube(400, 1000, varied)}) {
        // The whole file, and half of it, for which the passes are fewer (and a mosaic's pairs are
        // read as they come).
        for (const std::uint64_t byteLimit : {std::uint64_t{0x8000000}, file.size() / 2}) {
            cvtest::BytesReader alone(file);
            const auto one = renderFile(alone, thumbnail(128), freshBudget(4000, byteLimit));
            ReadingAheadReader ahead(file, std::numeric_limits<int>::max());
            const auto two = renderFile(ahead, thumbnail(128), freshBudget(4000, byteLimit));
            ASSERT_EQ(two.status, one.status);
            EXPECT_EQ(two.image.pixels, one.image.pixels);
            EXPECT_EQ(two.report.bytesReadHere, one.report.bytesReadHere);
            EXPECT_EQ(two.report.rowsRead, one.report.rowsRead);
            if (byteLimit > file.size()) {
                EXPECT_GE(ahead.batches, 3);
            }
            EXPECT_EQ(ahead.dropped, 0) << byteLimit;
        }

        ReadingAheadReader failing(file, 2);
        EXPECT_EQ(renderFile(failing, thumbnail(128)).status, cv::ReadStatus::ReadFailed);
    }
}

TEST(RenderImage, CancelledBeforeTheCallReadsNoRow) {
    cvtest::BytesReader bytes(uint16Fits(64, 64, sky));
    cv::ImageData data;
    ASSERT_EQ(cv::readImageHeader(bytes, data), cv::ReadStatus::Ok);
    WatchedReader watched(bytes);
    std::atomic<bool> cancel{true};
    cv::RenderBudget budget = freshBudget();
    budget.cancelFlag = &cancel;
    EXPECT_EQ(render(watched, data, thumbnail(), budget).status, cv::ReadStatus::Cancelled);
    EXPECT_EQ(watched.reads, 0);
}

TEST(RenderImage, UnsignedSixtyFourBitSamplesDrawAsTheSameValuesStoredSigned) {
    const auto fits64 = [](const char* bzero, std::int64_t shift) {
        FitsHeader header = primaryImageHeader(64, {64, 64});
        header.value("BZERO", bzero);
        std::vector<std::int64_t> samples;
        for (std::uint32_t y = 0; y < 64; ++y)
            for (std::uint32_t x = 0; x < 64; ++x) samples.push_back(sky(x, y) + shift);
        return header.bytes() + cvsamples::padData(cvsamples::bigEndianBytes(samples));
    };
    cvtest::BytesReader unsignedFile(fits64("9223372036854775808", INT64_MIN));
    cvtest::BytesReader signedFile(fits64("0", 0));
    const Rendered fromUnsigned = renderFile(unsignedFile, thumbnail());
    const Rendered fromSigned = renderFile(signedFile, thumbnail());
    ASSERT_EQ(fromUnsigned.status, cv::ReadStatus::Ok);
    const auto [darkest, brightest] =
        std::minmax_element(fromSigned.image.pixels.begin(), fromSigned.image.pixels.end());
    EXPECT_GT(*brightest - *darkest, 50) << "the sky's noise shows";
    EXPECT_TRUE(fromUnsigned.image.pixels == fromSigned.image.pixels);
}

TEST(RenderImage, FileCutShortIsMalformedAndAFailingReadIsReadFailed) {
    const std::string whole = uint16Fits(64, 64, sky);
    cvtest::BytesReader wholeReader(whole);
    cv::ImageData data;
    ASSERT_EQ(cv::readImageHeader(wholeReader, data), cv::ReadStatus::Ok);
    cvtest::BytesReader cut(whole.substr(0, 2880 + 4000));
    EXPECT_EQ(render(cut, data, thumbnail(), freshBudget()).status, cv::ReadStatus::Malformed);
    cvtest::FailingReader failing(whole, 2880 + 3000);
    EXPECT_EQ(render(failing, data, thumbnail(), freshBudget()).status, cv::ReadStatus::ReadFailed);
}

TEST(RenderImage, RefusesBlocksItCannotReach) {
    cvtest::BytesReader empty(std::string(100, '\0'));
    cv::ImageData data;
    EXPECT_EQ(render(empty, data, thumbnail(), freshBudget()).status, cv::ReadStatus::Malformed)
        << "no main image";
    data.image.width = data.image.height = 4;
    data.image.channels = 1;
    data.image.sampleFormat = cv::SampleFormat::UInt8;
    data.image.location = cv::DataLocation::Embedded;
    EXPECT_EQ(render(empty, data, thumbnail(), freshBudget()).status, cv::ReadStatus::Unsupported)
        << "embedded data that was never loaded";
    data.image.location = cv::DataLocation::Attachment;
    data.image.codec = cv::Codec::Zlib;
    data.image.size = 1000;
    cv::RenderOptions options = thumbnail();
    options.maxBlockBytes = 999;
    EXPECT_EQ(render(empty, data, options, freshBudget()).status, cv::ReadStatus::TooLarge);
}

TEST(RenderImage, DecodesCompressedBlocksInMemory) {
    std::vector<std::uint8_t> samples(40 * 30);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint8_t>(30 + i % 7);
    uLongf length = compressBound(samples.size());
    std::string file(100, 'x');
    std::vector<std::uint8_t> packed(length);
    ASSERT_EQ(compress(packed.data(), &length, samples.data(), samples.size()), Z_OK);
    file.append(reinterpret_cast<const char*>(packed.data()), length);
    cv::ImageData data;
    data.image.width = 40;
    data.image.height = 30;
    data.image.channels = 1;
    data.image.sampleFormat = cv::SampleFormat::UInt8;
    data.image.location = cv::DataLocation::Attachment;
    data.image.position = 100;
    data.image.size = length;
    data.image.codec = cv::Codec::Zlib;
    data.image.uncompressedSize = samples.size();
    data.image.scale = 1.0f / 255.0f;
    cvtest::BytesReader reader(file);
    const auto result = render(reader, data, thumbnail(), freshBudget());
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    EXPECT_TRUE(result.report.decompressed);
    EXPECT_EQ(result.image.width, 40u);
}

TEST(RenderImage, ChoosesTheEmbeddedThumbnailWhenItIsLargeEnough) {
    // Main image and thumbnail share one data block here; only the choice matters.
    cvtest::BytesReader reader(uint16Fits(400, 300, sky));
    cv::ImageData data;
    ASSERT_EQ(cv::readImageHeader(reader, data), cv::ReadStatus::Ok);
    data.hasThumbnail = true;
    data.thumbnail = data.image;
    data.image.width = 4000;  // the main image claims more than the file holds
    data.image.height = 3000;
    struct Case {
        std::uint32_t maxSize;
        bool prefer;
        cv::ReadStatus status;
        bool usedThumbnail;
    } cases[] = {
        {256, false, cv::ReadStatus::Ok, true},
        {512, false, cv::ReadStatus::Malformed, false},
        {1400, true, cv::ReadStatus::Ok, true},
    };
    for (const auto& c : cases) {
        cv::RenderOptions options = thumbnail(c.maxSize);
        options.preferEmbeddedThumbnail = c.prefer;
        const auto result = render(reader, data, options, freshBudget());
        EXPECT_EQ(result.status, c.status) << c.maxSize;
        EXPECT_EQ(result.report.usedEmbeddedThumbnail, c.usedThumbnail) << c.maxSize;
    }
}

// Independent computation of what a small image read in full must look like.
float referenceMtf(float m, float x) {
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    return (m - 1) * x / ((2 * m - 1) * x - m);
}

TEST(RenderImage, SmallImageMatchesAStraightforwardComputation) {
    constexpr std::uint32_t kWidth = 40;
    constexpr std::uint32_t kHeight = 30;
    std::vector<float> values;
    for (std::uint32_t y = 0; y < kHeight; ++y) {
        for (std::uint32_t x = 0; x < kWidth; ++x) {
            const float star = (x == 21 && y == 13) ? 0.4f : 0.0f;
            values.push_back(0.02f + 0.0005f * static_cast<float>((x * 7 + y * 11) % 9) + star);
        }
    }
    FitsHeader header = primaryImageHeader(-32, {kWidth, kHeight});
    cvtest::BytesReader reader(header.bytes() +
                               cvsamples::padData(cvsamples::bigEndianBytes(values)));
    const auto result = renderFile(reader, thumbnail(10));
    ASSERT_EQ(result.status, cv::ReadStatus::Ok);
    ASSERT_EQ(result.image.width, 10u);
    ASSERT_EQ(result.image.height, 8u);
    EXPECT_EQ(result.report.rowsRead, kHeight) << "every row is read";

    std::vector<float> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const float median = sorted[sorted.size() / 2];
    std::vector<float> deviations;
    for (float v : values) deviations.push_back(std::fabs(v - median));
    std::sort(deviations.begin(), deviations.end());
    const float sigma = deviations[deviations.size() / 2] * 1.4826f;
    EXPECT_FLOAT_EQ(result.report.statistics.median[0], median);
    EXPECT_FLOAT_EQ(result.report.statistics.sigma[0], sigma);

    const float shadows = std::clamp(median - 2.8f * sigma, 0.0f, 1.0f);
    const float midtones = referenceMtf(0.25f, median - shadows);
    ASSERT_LE(midtones, 0.02f) << "a linear image: the stretch is not spared";
    EXPECT_NEAR(result.report.stretch.midtones[0], midtones, 1e-6);
    for (std::uint32_t oy = 0; oy < 8; ++oy) {
        const std::uint32_t y0 = oy * kHeight / 8;
        const std::uint32_t y1 = (oy + 1) * kHeight / 8;
        for (std::uint32_t ox = 0; ox < 10; ++ox) {
            double sum = 0;
            for (std::uint32_t y = y0; y < y1; ++y) {
                for (std::uint32_t x = ox * 4; x < ox * 4 + 4; ++x) sum += values[y * kWidth + x];
            }
            const double mean = sum / ((y1 - y0) * 4.0);
            const float shown =
                referenceMtf(midtones, static_cast<float>((mean - shadows) / (1.0 - shadows)));
            const int expected = static_cast<int>(shown * 255.0f + 0.5f);
            EXPECT_NEAR(result.image.row(oy)[ox * 3], expected, 1) << "pixel " << ox << ", " << oy;
        }
    }
}

}  // namespace
