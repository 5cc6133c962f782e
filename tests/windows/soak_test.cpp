// Several threads mixing thumbnails, property stores and previews through the
// server as the shell loads it, over valid, damaged and misbehaving streams:
// nothing crashes, every object is freed, and the server's own allocations
// come back to where they stood before the soak.
#include <windows.h>
#include <propsys.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "samples/text_samples.h"
#include "shell/class_ids_win.h"
#include "windows/read_only_stream.h"
#include "windows/thumbnail_helpers.h"

namespace {

constexpr unsigned kThreads = 4;
constexpr ULONGLONG kSoakMs = 40000;      // within CI's time, long enough to mix thousands of calls
constexpr DWORD kLongestPreviewMs = 300;  // a preview is left to run this long at most
constexpr ULONGLONG kSettleMs = 30000;    // for every job to end once the threads are done
constexpr ULONGLONG kWarmUpMs = 3000;     // every lazily made piece of the server made once
constexpr std::uint32_t kFailingReadsAfter = 6;
constexpr ULONG kShortReadBytes = 7;
constexpr ULONGLONG kLieBytes = 1 << 20;  // Stat's extra size on a lying stream
constexpr int kDamagedBytes = 16;
constexpr std::size_t kDamagedSpan = 4096;  // the headers, where damage matters most

using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(__stdcall*)();
using LiveAllocations = LONG64(__cdecl*)();

enum class Misbehaviour { None, FailsLater, ShortReads, LiesAboutItsSize, Slow, Count };

// The soak's streams live in the test's heap, which the server's count does
// not see: a reference the server keeps to one shows here.
std::atomic<long> gLiveStreams{0};

// A stream over shared bytes that misbehaves as asked, reference-counted as
// the shell's own.
class SoakStream final : public cvtest::ReadOnlyStream {
public:
    SoakStream(std::shared_ptr<const std::string> bytes, Misbehaviour misbehaviour)
        : bytes_(std::move(bytes)), misbehaviour_(misbehaviour) {
        ++gLiveStreams;
    }
    ~SoakStream() { --gLiveStreams; }
    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (riid == __uuidof(IUnknown) || riid == __uuidof(IStream) ||
            riid == __uuidof(ISequentialStream)) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        std::lock_guard lock(mutex_);
        if (got != nullptr) *got = 0;
        ++reads_;
        if (misbehaviour_ == Misbehaviour::FailsLater && reads_ > kFailingReadsAfter) return E_FAIL;
        if (misbehaviour_ == Misbehaviour::Slow) Sleep(1);
        if (misbehaviour_ == Misbehaviour::ShortReads) count = std::min(count, kShortReadBytes);
        const ULONGLONG left = position_ < bytes_->size() ? bytes_->size() - position_ : 0;
        const auto given = static_cast<ULONG>(std::min<ULONGLONG>(count, left));
        std::memcpy(out, bytes_->data() + position_, given);
        position_ += given;
        if (got != nullptr) *got = given;
        return given == count ? S_OK : S_FALSE;
    }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        std::lock_guard lock(mutex_);
        const LONGLONG base = origin == STREAM_SEEK_SET   ? 0
                              : origin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                                                          : static_cast<LONGLONG>(size());
        if (base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<ULONGLONG>(base + move.QuadPart);
        if (position != nullptr) position->QuadPart = position_;
        return S_OK;
    }
    IFACEMETHODIMP Stat(STATSTG* stat, DWORD) override {
        *stat = {};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = size();
        return S_OK;
    }

private:
    ULONGLONG size() const {
        return bytes_->size() + (misbehaviour_ == Misbehaviour::LiesAboutItsSize ? kLieBytes : 0);
    }

    std::shared_ptr<const std::string> bytes_;
    const Misbehaviour misbehaviour_;
    std::mutex mutex_;
    ULONGLONG position_ = 0;
    std::uint32_t reads_ = 0;
    volatile LONG references_ = 1;
};

// What the soak counts: calls by kind and the failures each gave.
class Tally {
public:
    void add(const char* kind, HRESULT result) {
        std::lock_guard lock(mutex_);
        ++calls_[kind];
        if (FAILED(result)) ++failures_[kind][result];
    }
    int total() const {
        int sum = 0;
        for (const auto& [kind, count] : calls_) sum += count;
        return sum;
    }
    void print() const {
        std::printf("soak: %d operations\n", total());
        for (const auto& [kind, count] : calls_) {
            std::printf("  %-10s %6d calls", kind.c_str(), count);
            const auto failures = failures_.find(kind);
            if (failures != failures_.end()) {
                for (const auto& [result, times] : failures->second)
                    std::printf(", 0x%08lX x %d", static_cast<unsigned long>(result), times);
            }
            std::printf("\n");
        }
    }

private:
    std::mutex mutex_;
    std::map<std::string, int> calls_;
    std::map<std::string, std::map<HRESULT, int>> failures_;
};

class LoadedCountedServer {
public:
    LoadedCountedServer() : module_(LoadLibraryW(L"CorvaneCounted.dll")) {
        if (module_ == nullptr) return;
        getClassObject_ = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        canUnloadNow_ = reinterpret_cast<CanUnloadNow>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        live_ = reinterpret_cast<LiveAllocations>(
            reinterpret_cast<void*>(GetProcAddress(module_, "CorvaneLiveAllocations")));
    }
    ~LoadedCountedServer() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    bool loaded() const { return getClassObject_ && canUnloadNow_ && live_; }
    template <typename Interface>
    Interface* create(const CLSID& clsid) const {
        IClassFactory* factory = nullptr;
        if (FAILED(getClassObject_(clsid, __uuidof(IClassFactory),
                                   reinterpret_cast<void**>(&factory))))
            return nullptr;
        Interface* object = nullptr;
        factory->CreateInstance(nullptr, __uuidof(Interface), reinterpret_cast<void**>(&object));
        factory->Release();
        return object;
    }
    bool idle() const { return canUnloadNow_() == S_OK; }
    LONG64 liveAllocations() const { return live_(); }

private:
    HMODULE module_;
    GetClassObject getClassObject_ = nullptr;
    CanUnloadNow canUnloadNow_ = nullptr;
    LiveAllocations live_ = nullptr;
};

void pumpFor(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(2);
    } while (GetTickCount64() < end);
}

template <typename Interface>
HRESULT initialize(Interface* object, IStream* stream) {
    IInitializeWithStream* initialize = nullptr;
    HRESULT result = object->QueryInterface(__uuidof(IInitializeWithStream),
                                            reinterpret_cast<void**>(&initialize));
    if (FAILED(result)) return result;
    result = initialize->Initialize(stream, STGM_READ);
    initialize->Release();
    return result;
}

HRESULT drawThumbnail(const LoadedCountedServer& server, IStream* stream, UINT size) {
    IThumbnailProvider* provider =
        server.create<IThumbnailProvider>(cvwin::kThumbnailProviderClsid);
    if (provider == nullptr) return E_NOINTERFACE;
    HRESULT result = initialize(provider, stream);
    if (SUCCEEDED(result)) {
        HBITMAP bitmap = nullptr;
        WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
        result = provider->GetThumbnail(size, &bitmap, &alpha);
        if (bitmap != nullptr) DeleteObject(bitmap);
    }
    provider->Release();
    return result;
}

HRESULT readProperties(const LoadedCountedServer& server, IStream* stream) {
    IPropertyStore* store = server.create<IPropertyStore>(cvwin::kPropertyStoreClsid);
    if (store == nullptr) return E_NOINTERFACE;
    HRESULT result = initialize(store, stream);
    DWORD count = 0;
    if (SUCCEEDED(result)) result = store->GetCount(&count);
    for (DWORD i = 0; SUCCEEDED(result) && i < count; ++i) {
        PROPERTYKEY key{};
        PROPVARIANT value;
        PropVariantInit(&value);
        result = store->GetAt(i, &key);
        if (SUCCEEDED(result)) result = store->GetValue(key, &value);
        PropVariantClear(&value);
    }
    store->Release();
    return result;
}

// Shown for up to `runMs`, then unloaded, or released without unloading as a
// careless host does.
HRESULT showPreview(const LoadedCountedServer& server, IStream* stream, HWND host, DWORD runMs,
                    bool unload) {
    IPreviewHandler* handler = server.create<IPreviewHandler>(cvwin::kPreviewHandlerClsid);
    if (handler == nullptr) return E_NOINTERFACE;
    HRESULT result = initialize(handler, stream);
    const RECT rect{0, 0, 320, 240};
    if (SUCCEEDED(result)) result = handler->SetWindow(host, &rect);
    if (SUCCEEDED(result)) result = handler->DoPreview();
    pumpFor(runMs);
    if (unload) handler->Unload();
    handler->Release();
    return result;
}

std::shared_ptr<const std::string> damaged(std::string bytes, std::mt19937& random) {
    const std::size_t span = std::min(bytes.size(), kDamagedSpan);
    for (int i = 0; span > 0 && i < kDamagedBytes; ++i)
        bytes[random() % span] = static_cast<char>(random());
    return std::make_shared<const std::string>(std::move(bytes));
}

std::shared_ptr<const std::string> cut(const std::string& bytes, std::mt19937& random) {
    return std::make_shared<const std::string>(bytes.substr(0, random() % (bytes.size() + 1)));
}

struct Inputs {
    std::vector<std::shared_ptr<const std::string>> files;
};

Inputs soakInputs() {
    Inputs inputs;
    auto samples = cvtest::generatedSamples();
    for (auto& sample : cvsamples::textSamples()) samples.push_back(std::move(sample));
    for (const auto& sample : samples)
        inputs.files.push_back(std::make_shared<const std::string>(sample.build()));
    return inputs;
}

// One thread's share: random calls of every kind until the soak's end.
void soakThread(const LoadedCountedServer& server, const Inputs& inputs, unsigned seed,
                ULONGLONG end, Tally& tally) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HWND host = CreateWindowExW(0, L"STATIC", L"soak", WS_POPUP | WS_VISIBLE, 0, 0, 320, 240,
                                      nullptr, nullptr, nullptr, nullptr);
    std::mt19937 random(seed);
    constexpr UINT kSizes[] = {32, 96, 256, 1024};
    while (GetTickCount64() < end) {
        const auto& original = inputs.files[random() % inputs.files.size()];
        std::shared_ptr<const std::string> bytes = original;
        switch (random() % 4) {
            case 0:
                bytes = damaged(*original, random);
                break;
            case 1:
                bytes = cut(*original, random);
                break;
            default:
                break;
        }
        const auto misbehaviour =
            static_cast<Misbehaviour>(random() % static_cast<unsigned>(Misbehaviour::Count));
        IStream* stream = new SoakStream(bytes, misbehaviour);
        switch (random() % 3) {
            case 0:
                tally.add("thumbnail", drawThumbnail(server, stream, kSizes[random() % 4]));
                break;
            case 1:
                tally.add("properties", readProperties(server, stream));
                break;
            default:
                tally.add("preview", showPreview(server, stream, host, random() % kLongestPreviewMs,
                                                 random() % 4 != 0));
                break;
        }
        stream->Release();
        pumpFor(0);
    }
    pumpFor(kLongestPreviewMs);
    DestroyWindow(host);
    CoUninitialize();
}

bool settle(const LoadedCountedServer& server) {
    const ULONGLONG end = GetTickCount64() + kSettleMs;
    while (!server.idle()) {
        if (GetTickCount64() > end) return false;
        pumpFor(10);
    }
    return true;
}

TEST(Soak, MixedCallsOnSeveralThreadsEndWithNothingOfTheServersLive) {
    const LoadedCountedServer server;
    ASSERT_TRUE(server.loaded()) << "CorvaneCounted.dll beside the tests";
    const Inputs inputs = soakInputs();
    Tally warmUp;
    soakThread(server, inputs, 1, GetTickCount64() + kWarmUpMs, warmUp);
    ASSERT_TRUE(settle(server));
    const LONG64 before = server.liveAllocations();
    IPropertyStore* store = server.create<IPropertyStore>(cvwin::kPropertyStoreClsid);
    ASSERT_NE(store, nullptr);
    EXPECT_GT(server.liveAllocations(), before) << "the count sees the server's objects";
    store->Release();

    Tally tally;
    const ULONGLONG end = GetTickCount64() + kSoakMs;
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < kThreads; ++i)
        threads.emplace_back(soakThread, std::cref(server), std::cref(inputs), 100u + i, end,
                             std::ref(tally));
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(settle(server)) << "a job, handler or window outlived the soak";
    const LONG64 after = server.liveAllocations();

    tally.print();
    std::printf("soak: the server's live allocations %lld before, %lld after\n", before, after);
    EXPECT_GT(tally.total(), 100);
    EXPECT_EQ(after, before);
    EXPECT_EQ(gLiveStreams.load(), 0) << "the server kept a reference to a stream";
}

}  // namespace
