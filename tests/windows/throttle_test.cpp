// With more thumbnail requests than throttle slots, the extra ones wait for a
// slot and still render; a render reading its stream holds no slot.
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "windows/read_only_stream.h"
#include "windows/thumbnail_helpers.h"

namespace {

constexpr DWORD kReadMs = 20;
std::atomic<int> gReading{0};
std::atomic<int> gMostReading{0};

// Forwards to a memory stream, slowly enough that the renders spend most
// of their time in Read, counting how many reads overlap.
class SlowStream final : public cvtest::ReadOnlyStream {
public:
    explicit SlowStream(IStream* inner) : inner_(inner) {}
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
        Sleep(kReadMs);
        const HRESULT result = inner_->Read(out, count, got);
        --gReading;
        return result;
    }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return inner_->Seek(move, origin, position);
    }
    IFACEMETHODIMP Stat(STATSTG* stat, DWORD flags) override { return inner_->Stat(stat, flags); }

private:
    IStream* inner_;
    std::atomic<LONG> references_{1};
};

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

}  // namespace
