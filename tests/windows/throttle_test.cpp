// With more thumbnail requests than throttle slots, the extra ones wait for a
// slot and still render; a render reading its stream holds no slot, so hung
// streams keep no other file waiting, and slow ones keep the time budget.
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "render/render_profiles.h"
#include "windows/read_only_stream.h"
#include "windows/thumbnail_helpers.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kReadMs = 20;
constexpr DWORD kLongestHangMs = 60000;  // a test that never lets a hung Read go still ends
std::atomic<int> gReading{0};
std::atomic<int> gMostReading{0};

// Forwards to a memory stream, each Read after `delayMs` or, given an event,
// once it is set (a dead share), counting reads and how many overlap.
class SlowStream final : public cvtest::ReadOnlyStream {
public:
    explicit SlowStream(IStream* inner, DWORD delayMs = kReadMs, HANDLE release = nullptr)
        : inner_(inner), delayMs_(delayMs), release_(release) {}
    ~SlowStream() { inner_->Release(); }
    IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG count = --references_;
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        const int now = ++gReading;
        int most = gMostReading.load();
        while (now > most && !gMostReading.compare_exchange_weak(most, now)) {
        }
        ++waiting;
        if (release_ != nullptr)
            WaitForSingleObject(release_, kLongestHangMs);
        else
            Sleep(delayMs_);
        --waiting;
        ++reads;
        const HRESULT result = inner_->Read(out, count, got);
        --gReading;
        return result;
    }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return inner_->Seek(move, origin, position);
    }
    IFACEMETHODIMP Stat(STATSTG* stat, DWORD flags) override { return inner_->Stat(stat, flags); }

    std::atomic<int> waiting{0};
    std::atomic<int> reads{0};

private:
    IStream* inner_;
    DWORD delayMs_;
    HANDLE release_;
    std::atomic<LONG> references_{1};
};

struct Thumbnail {
    HRESULT result = E_PENDING;
    std::int64_t elapsedMs = 0;
    bool drawn = false;  // a bitmap 256 pixels wide
};

Thumbnail timedThumbnail(IStream* stream) {
    IThumbnailProvider* provider = cvtest::initializedProvider(stream);
    Thumbnail thumbnail;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha{};
    const Clock::time_point start = Clock::now();
    thumbnail.result = provider->GetThumbnail(256, &bitmap, &alpha);
    thumbnail.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    provider->Release();
    if (bitmap == nullptr) return thumbnail;
    BITMAP shape{};
    thumbnail.drawn = GetObjectW(bitmap, sizeof shape, &shape) != 0 && shape.bmWidth == 256;
    DeleteObject(bitmap);
    return thumbnail;
}

TEST(ThumbnailThrottle, ExtraCallersWaitForASlotAndStillRender) {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    const int slots = static_cast<int>(std::clamp<DWORD>(system.dwNumberOfProcessors, 1, 4));
    const std::string bytes = cvtest::generatedSample("bitpix8.fits");
    const int callers = slots + 1;
    std::vector<HRESULT> results(static_cast<std::size_t>(callers), E_PENDING);
    std::vector<std::thread> threads;
    for (int i = 0; i < callers; ++i) {
        threads.emplace_back([&, i] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            auto* stream = new SlowStream(cvtest::memoryStream(bytes));
            IThumbnailProvider* provider = cvtest::initializedProvider(stream);
            stream->Release();
            HBITMAP bitmap = nullptr;
            WTS_ALPHATYPE alpha{};
            results[static_cast<std::size_t>(i)] = provider->GetThumbnail(64, &bitmap, &alpha);
            if (bitmap != nullptr) DeleteObject(bitmap);
            provider->Release();
            CoUninitialize();
        });
    }
    for (auto& thread : threads) thread.join();
    for (HRESULT result : results) EXPECT_EQ(result, S_OK);
    EXPECT_GT(gMostReading.load(), slots) << "renders that read give their slots to the others";
}

TEST(ThumbnailThrottle, HungStreamsLeaveAnotherFilesThumbnailItsSlot) {
    constexpr int kHung = 4;  // the most slots there can be
    const std::string bytes = cvtest::generatedSample("starfield-1920x1280.fits");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<SlowStream*> hung;
    std::vector<std::thread> threads;
    for (int i = 0; i < kHung; ++i) {
        hung.push_back(new SlowStream(cvtest::memoryStream(bytes), 0, release));
        threads.emplace_back([stream = hung.back()] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            static_cast<void>(timedThumbnail(stream));
            CoUninitialize();
        });
    }
    const Clock::time_point start = Clock::now();
    for (auto* stream : hung) {
        while (stream->waiting == 0 && Clock::now() - start < std::chrono::seconds(10)) Sleep(1);
        EXPECT_EQ(stream->waiting, 1) << "every hung thumbnail is in a Read";
    }
    IStream* small = cvtest::memoryStream(cvtest::generatedSample("bitpix8.fits"));
    const Thumbnail other = timedThumbnail(small);
    small->Release();
    std::printf("unrelated thumbnail beside %d hung streams: %lld ms\n", kHung,
                static_cast<long long>(other.elapsedMs));
    EXPECT_TRUE(other.drawn);
    EXPECT_LT(other.elapsedMs, 1000);
    SetEvent(release);
    for (auto& thread : threads) thread.join();
    for (auto* stream : hung) stream->Release();
    CloseHandle(release);
}

TEST(ThumbnailThrottle, SlowStreamsKeepTheTimeBudgetWithinOneRead) {
    constexpr std::int64_t kMarginMs = 300;  // drawing the picture, and a busy machine
    const std::string bytes = cvtest::generatedSample("starfield-1920x1280.fits");
    for (const DWORD readMs : {50u, 200u}) {
        auto* stream = new SlowStream(cvtest::memoryStream(bytes), readMs);
        const Thumbnail thumbnail = timedThumbnail(stream);
        std::printf("%lu ms per Read: %d Reads, %lld ms\n", readMs, stream->reads.load(),
                    static_cast<long long>(thumbnail.elapsedMs));
        stream->Release();
        EXPECT_LE(thumbnail.elapsedMs, cv::kThumbnailTimeLimitMs + readMs + kMarginMs);
        EXPECT_TRUE(thumbnail.drawn) << readMs << " ms a Read: the rows read are drawn";
    }
}

}  // namespace
