// Thumbnails of streams that hang or answer slowly, as a dead or distant
// network share does: the budget and the throttle hold by the wall clock,
// which is what the shell waits on.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "windows/delayed_stream.h"
#include "windows/thumbnail_helpers.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Thumbnail {
    HRESULT result = E_PENDING;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool inked = false;
    std::int64_t elapsedMs = 0;
};

// GetThumbnail through `stream`, timed; the picture's size and whether any pixel is lit.
Thumbnail timedThumbnail(IStream* stream, UINT cx) {
    IThumbnailProvider* provider = cvtest::initializedProvider(stream);
    Thumbnail thumbnail;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha{};
    const Clock::time_point start = Clock::now();
    thumbnail.result = provider->GetThumbnail(cx, &bitmap, &alpha);
    thumbnail.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    provider->Release();
    if (bitmap == nullptr) return thumbnail;
    DIBSECTION section{};
    GetObjectW(bitmap, sizeof section, &section);
    thumbnail.width = static_cast<std::uint32_t>(section.dsBm.bmWidth);
    thumbnail.height = static_cast<std::uint32_t>(std::abs(section.dsBm.bmHeight));
    const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
    for (std::size_t i = 0; i < std::size_t{thumbnail.width} * thumbnail.height * 4; i += 4)
        thumbnail.inked = thumbnail.inked || bits[i] != 0 || bits[i + 1] != 0 || bits[i + 2] != 0;
    DeleteObject(bitmap);
    return thumbnail;
}

TEST(SlowStreams, HungStreamsLeaveAnotherFilesThumbnailItsSlot) {
    constexpr int kHung = 4;  // every slot the throttle can have
    constexpr std::int64_t kMaxWaitMs = 1000;
    const std::string hungBytes = cvtest::generatedSample("starfield-1024x768.fits");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(release, nullptr);
    std::vector<cvtest::DelayedStream*> hung;
    std::vector<std::thread> threads;
    for (int i = 0; i < kHung; ++i) {
        hung.push_back(new cvtest::DelayedStream(cvtest::memoryStream(hungBytes), 0, release));
        hung.back()->AddRef();
        threads.emplace_back([stream = hung.back()] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            static_cast<void>(timedThumbnail(stream, 256));
            stream->Release();
            CoUninitialize();
        });
    }
    const Clock::time_point hangStart = Clock::now();
    for (auto* stream : hung) {
        while (stream->waiting == 0 && Clock::now() - hangStart < std::chrono::seconds(10))
            Sleep(1);
        EXPECT_EQ(stream->waiting, 1) << "each hung thumbnail is blocked in a Read";
    }

    IStream* small = cvtest::memoryStream(cvtest::generatedSample("bitpix8.fits"));
    const Thumbnail other = timedThumbnail(small, 256);
    small->Release();
    std::printf("unrelated thumbnail beside %d hung streams: %lld ms\n", kHung,
                static_cast<long long>(other.elapsedMs));
    EXPECT_EQ(other.result, S_OK);
    EXPECT_LT(other.elapsedMs, kMaxWaitMs);

    SetEvent(release);
    for (auto& thread : threads) thread.join();
    for (auto* stream : hung) stream->Release();
    CloseHandle(release);
}

TEST(SlowStreams, ThumbnailBudgetHoldsWithinOneReadOfItsTimeLimit) {
    constexpr std::int64_t kTimeLimitMs = 4000;  // the thumbnail's budget
    constexpr std::int64_t kMarginMs = 300;      // drawing the picture and a loaded Wine's jitter
    const std::string bytes = cvtest::generatedSample("starfield-1920x1280.fits");
    for (const DWORD readMs : {50u, 200u}) {
        auto* stream = new cvtest::DelayedStream(cvtest::memoryStream(bytes), readMs);
        const Thumbnail thumbnail = timedThumbnail(stream, 256);
        std::printf("%lu ms per Read: %d Reads, %lld ms\n", readMs, stream->reads.load(),
                    static_cast<long long>(thumbnail.elapsedMs));
        stream->Release();
        EXPECT_LE(thumbnail.elapsedMs, kTimeLimitMs + readMs + kMarginMs) << readMs << " ms a Read";
        ASSERT_EQ(thumbnail.result, S_OK) << readMs << " ms a Read";
        EXPECT_EQ(thumbnail.width, 256u);
        EXPECT_EQ(thumbnail.height, 171u);
        EXPECT_TRUE(thumbnail.inked) << "the rows read are drawn";
    }
}

}  // namespace
