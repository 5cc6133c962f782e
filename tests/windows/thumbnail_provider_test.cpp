// The thumbnail provider as Explorer drives it: class factory, stream,
// GetThumbnail; pictures compared with the portable renderer's.
#include <windows.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <atomic>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "formats/image_header.h"
#include "support/fits_builder.h"
#include "support/test_names.h"
#include "render/render_profiles.h"
#include "shell/thumbnail_bitmap_win.h"
#include "windows/faulting_stream.h"
#include "windows/thumbnail_helpers.h"

namespace {

struct Picture {
    HRESULT result = E_FAIL;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;
};

Picture thumbnailOf(IStream* stream, UINT cx) {
    IThumbnailProvider* provider = cvtest::initializedProvider(stream);
    Picture picture;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    picture.result = provider->GetThumbnail(cx, &bitmap, &alpha);
    provider->Release();
    if (FAILED(picture.result)) {
        EXPECT_EQ(bitmap, nullptr);
        return picture;
    }
    EXPECT_EQ(alpha, WTSAT_ARGB);
    DIBSECTION section{};
    EXPECT_EQ(GetObjectW(bitmap, sizeof section, &section), static_cast<int>(sizeof section));
    picture.width = section.dsBm.bmWidth;
    picture.height = std::abs(section.dsBm.bmHeight);
    EXPECT_EQ(section.dsBm.bmBitsPixel, 32);
    const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
    picture.bgra.assign(bits, bits + static_cast<std::size_t>(picture.width) *
                                         static_cast<std::size_t>(picture.height) * 4);
    DeleteObject(bitmap);
    return picture;
}

Picture thumbnailOf(const std::string& bytes, UINT cx) {
    IStream* stream = cvtest::memoryStream(bytes);
    Picture picture = thumbnailOf(stream, cx);
    stream->Release();
    return picture;
}

struct Reference {
    cv::ReadStatus status;
    cv::RgbImage image;
};

Reference portableRender(const std::string& bytes, UINT cx) {
    cv::MemoryReader reader(bytes.data(), bytes.size());
    cv::ImageData data;
    Reference reference{cv::readImageHeader(reader, data), {}};
    if (reference.status != cv::ReadStatus::Ok) return reference;
    cv::RenderBudget budget = cv::thumbnailBudget();
    reference.status = cv::renderImage(reader, data, cv::thumbnailOptions(cx, cv::RenderSettings{}),
                                       budget, reference.image);
    return reference;
}

class ThumbnailMatchesThePortableRenderer : public ::testing::TestWithParam<const char*> {};

// A generated sample by name, or a tile-compressed file (`.fz`) of the fuzz corpus.
std::string sampleBytes(const std::string& name) {
    if (!name.ends_with(".fz")) return cvtest::generatedSample(name);
    std::ifstream in(std::filesystem::path(CORVANE_COMPRESSED_SAMPLES) / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void expectPortablePicture(const Picture& picture, const std::string& bytes, UINT cx) {
    const Reference reference = portableRender(bytes, cx);
    ASSERT_EQ(picture.result, S_OK);
    ASSERT_EQ(reference.status, cv::ReadStatus::Ok) << "a Partial render depends on time";
    ASSERT_EQ(static_cast<std::uint32_t>(picture.width), reference.image.width);
    ASSERT_EQ(static_cast<std::uint32_t>(picture.height), reference.image.height);
    for (std::size_t i = 0; i < reference.image.pixels.size() / 3; ++i) {
        const std::uint8_t* rgb = reference.image.pixels.data() + i * 3;
        const std::uint8_t* bgra = picture.bgra.data() + i * 4;
        ASSERT_EQ(bgra[2], rgb[0]) << "pixel " << i;
        ASSERT_EQ(bgra[1], rgb[1]) << "pixel " << i;
        ASSERT_EQ(bgra[0], rgb[2]) << "pixel " << i;
        ASSERT_EQ(bgra[3], 255) << "pixel " << i;
    }
}

TEST_P(ThumbnailMatchesThePortableRenderer, PixelForPixel) {
    const std::string bytes = sampleBytes(GetParam());
    ASSERT_FALSE(bytes.empty()) << GetParam();
    expectPortablePicture(thumbnailOf(bytes, 256), bytes, 256);
}

INSTANTIATE_TEST_SUITE_P(GeneratedSamples, ThumbnailMatchesThePortableRenderer,
                         ::testing::Values("bitpix16.fits", "bitpix-32.fits", "rggb-mosaic.fits",
                                           "rgb-cube.fits", "thumbnail-400x300.xisf",
                                           "codec-zstd-shuffled.xisf", "bayer-rggb.xisf",
                                           "project-source.vmproj", "embedded-zlib-on-data.xisf",
                                           "int16-rice-rows.fits.fz", "int16-hcompress.fits.fz",
                                           "float-dither.fits.fz"),
                         [](const auto& param) { return cvtest::testNameOf(param.param); });

TEST(ThumbnailProvider, SizeZeroMeans256HugeSizesAreCappedAndSmallImagesKeepTheirSize) {
    const Picture defaultSize = thumbnailOf(cvtest::generatedSample("starfield-1024x768.fits"), 0);
    ASSERT_EQ(defaultSize.result, S_OK);
    EXPECT_EQ(defaultSize.width, 256);
    EXPECT_EQ(defaultSize.height, 192);
    const Picture small = thumbnailOf(cvtest::generatedSample("embedded-uncompressed.xisf"), 256);
    ASSERT_EQ(small.result, S_OK);
    EXPECT_EQ(small.width, 64);
    EXPECT_EQ(small.height, 48);
    const Picture capped = thumbnailOf(cvtest::primaryImage(9000, 2), 10000);
    ASSERT_EQ(capped.result, S_OK) << "a size above the largest is drawn at the largest";
    EXPECT_EQ(capped.width, 8192);
}

std::string withoutEndCard(std::string header) {
    return header.replace(header.find("END     "), 8, "        ");
}

// Each kind of failure reaches Explorer as its own HRESULT, and still as a failure.
TEST(ThumbnailProvider, FailsOnCutFilesAndOtherKinds) {
    std::string cut = cvtest::generatedSample("bitpix16.fits");
    cut.resize(cut.size() / 2);
    const std::string cutHeader = cvtest::generatedSample("thumbnail-400x300.xisf").substr(0, 64);
    cvsamples::FitsHeader longHeader = cvsamples::primaryImageHeader(8, {3, 3});
    for (int i = 0; i < 512 * 36; ++i) longHeader.raw("HISTORY filler");
    const struct {
        const char* name;
        std::string bytes;
        cv::ReadStatus status;
        HRESULT result;
    } cases[] = {
        {"FITS cut in half", cut, cv::ReadStatus::Truncated, HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
        {"FITS holding a table and no image",
         cvsamples::primaryImageHeader(8, {}).bytes() +
             cvtest::hdu(cvtest::extensionHeader("BINTABLE", 8, {24, 100}), 2400),
         cv::ReadStatus::Unsupported, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)},
        {"XISF header cut", cutHeader, cv::ReadStatus::Truncated,
         HRESULT_FROM_WIN32(ERROR_HANDLE_EOF)},
        {"text", "just some text, long enough to be a file", cv::ReadStatus::NotRecognized,
         WINCODEC_ERR_UNKNOWNIMAGEFORMAT},
        {"no END card", withoutEndCard(cvsamples::primaryImageHeader(8, {2, 2}).bytes()),
         cv::ReadStatus::Malformed, WINCODEC_ERR_BADIMAGE},
        {"header of 513 blocks", cvtest::hdu(longHeader, 9), cv::ReadStatus::TooLarge,
         HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(portableRender(c.bytes, 256).status, c.status) << c.name;
        EXPECT_EQ(thumbnailOf(c.bytes, 256).result, c.result) << c.name;
    }
}

TEST(ThumbnailProvider, SetsItsOutPointersBeforeFailing) {
    IThumbnailProvider* provider = nullptr;
    ASSERT_EQ(cvwin::createThumbnailProvider(__uuidof(IThumbnailProvider),
                                             reinterpret_cast<void**>(&provider)),
              S_OK);
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(1);
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    EXPECT_EQ(provider->GetThumbnail(256, &bitmap, &alpha), E_UNEXPECTED) << "not initialised";
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(alpha, WTSAT_ARGB);
    EXPECT_EQ(provider->GetThumbnail(256, nullptr, &alpha), E_POINTER);
    IInitializeWithStream* initialize = nullptr;
    ASSERT_EQ(provider->QueryInterface(__uuidof(IInitializeWithStream),
                                       reinterpret_cast<void**>(&initialize)),
              S_OK);
    EXPECT_EQ(initialize->Initialize(nullptr, STGM_READ), E_INVALIDARG);
    IStream* stream = cvtest::memoryStream(cvtest::generatedSample("bitpix8.fits"));
    EXPECT_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
    EXPECT_EQ(initialize->Initialize(stream, STGM_READ),
              HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
    stream->Release();
    initialize->Release();
    EXPECT_EQ(provider->GetThumbnail(64, &bitmap, &alpha), S_OK);
    DeleteObject(bitmap);
    provider->Release();
}

std::atomic<int> gHostHandled{0};

// The host's own handler, later in line than the guard's, takes the fault its
// stream raised and lets the stream go on.
LONG CALLBACK hostHandler(EXCEPTION_POINTERS* exception) {
    if (!cvtest::isHostsOwnFault(exception)) return EXCEPTION_CONTINUE_SEARCH;
    ++gHostHandled;
    return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(ThumbnailProvider, LeavesAFaultInsideTheHostsStreamToTheHost) {
    IStream* inner = cvtest::memoryStream(cvtest::generatedSample("bitpix16.fits"));
    cvtest::FaultingStream stream(inner);
    void* handler = AddVectoredExceptionHandler(0, hostHandler);
    const Picture picture = thumbnailOf(&stream, 64);
    RemoveVectoredExceptionHandler(handler);
    inner->Release();
    EXPECT_EQ(gHostHandled.load(), 1) << "the host saw its own fault";
    EXPECT_EQ(picture.result, S_OK) << "and its stream went on";
}

// A stream that counts the Reads of threads other than its first reader's
// and, when asked, raises an access violation in each of them. The first
// reader's Reads take a millisecond, so a second thread has time to begin.
class SecondReaderStream final : public cvtest::StreamOverAnother {
public:
    SecondReaderStream(IStream* inner, bool faultOnSecondReader)
        : StreamOverAnother(inner), fault_(faultOnSecondReader) {}
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        if (!firstReader_.isFirst()) {
            ++secondReaderReads;
            if (fault_) RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
        } else {
            Sleep(1);
        }
        return inner_->Read(out, count, got);
    }
    std::atomic<int> secondReaderReads{0};

private:
    bool fault_;
    cvtest::FirstCaller firstReader_;
};

// A frame of megabytes, alone in the process, reads its bands ahead on a
// second thread: the same picture; a fault in the stream there fails that
// thumbnail alone.
TEST(ThumbnailProvider, ReadsTheBandsAheadOnASecondThreadAndAFaultThereFailsTheThumbnail) {
    const std::string bytes = cvtest::generatedSample("starfield-1920x1280.fits");
    for (const bool fault : {false, true}) {
        IStream* inner = cvtest::memoryStream(bytes);
        SecondReaderStream stream(inner, fault);
        const Picture picture = thumbnailOf(&stream, 256);
        inner->Release();
        EXPECT_GT(stream.secondReaderReads.load(), 0);
        if (fault) {
            EXPECT_TRUE(FAILED(picture.result));
        } else {
            expectPortablePicture(picture, bytes, 256);
        }
    }
    EXPECT_EQ(thumbnailOf(bytes, 256).result, S_OK) << "the library goes on";
}

TEST(ThumbnailBitmap, RefusesEmptyAndOversizedPictures) {
    cv::RgbImage image;
    EXPECT_EQ(cvwin::createThumbnailBitmap(image), nullptr);
    ASSERT_TRUE(cv::resizeRgbImage(image, 8193, 1));
    EXPECT_EQ(cvwin::createThumbnailBitmap(image), nullptr);
    ASSERT_TRUE(cv::resizeRgbImage(image, 8192, 1));
    HBITMAP bitmap = cvwin::createThumbnailBitmap(image);
    EXPECT_NE(bitmap, nullptr);
    DeleteObject(bitmap);
}

std::vector<std::uint8_t> bitsOf(HBITMAP bitmap) {
    DIBSECTION section{};
    if (GetObjectW(bitmap, sizeof section, &section) != static_cast<int>(sizeof section)) return {};
    const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
    return {bits, bits + static_cast<std::size_t>(section.dsBm.bmWidthBytes) *
                             static_cast<std::size_t>(std::abs(section.dsBm.bmHeight))};
}

// Made on the worker or not, the bitmap holds the picture as a fresh one would.
TEST(ThumbnailBitmap, APreparedBitmapHoldsThePictureWhateverSizeItWasTold) {
    cv::RgbImage image;
    ASSERT_TRUE(cv::resizeRgbImage(image, 1024, 768));
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = static_cast<std::uint8_t>(i * 7 % 251);
    HBITMAP fresh = cvwin::createThumbnailBitmap(image);
    const std::vector<std::uint8_t> expected = bitsOf(fresh);
    DeleteObject(fresh);
    ASSERT_EQ(expected.size(), 1024u * 768u * 4u);
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> told;
    } cases[] = {
        {"its own size", {{1024, 768}}},
        {"another size first", {{1000, 750}, {1024, 768}}},
        {"too small for a worker", {{64, 48}}},
        {"nothing", {}},
    };
    for (const Case& c : cases) {
        cvwin::PreparedBitmap prepared;
        for (const auto& [width, height] : c.told) prepared.outputSized(width, height);
        HBITMAP bitmap = prepared.take(image);
        EXPECT_TRUE(bitsOf(bitmap) == expected) << c.name;
        DeleteObject(bitmap);
    }
    cvwin::PreparedBitmap untaken;
    untaken.outputSized(1024, 768);
}

}  // namespace
