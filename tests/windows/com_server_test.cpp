// Corvane.dll loaded the way the shell loads it.
#include <windows.h>
#include <propsys.h>
#include <shobjidl.h>
#include <thumbcache.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "corvane/version.h"

#include "shell/class_ids_win.h"
#include "windows/faulting_stream.h"
#include "windows/message_pump.h"
#include "windows/thumbnail_helpers.h"

namespace {

using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(__stdcall*)();

class ComServer : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(L"Corvane.dll");
        ASSERT_NE(module_, nullptr) << "Corvane.dll beside the tests";
        getClassObject_ = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        canUnloadNow_ = reinterpret_cast<CanUnloadNow>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        ASSERT_NE(getClassObject_, nullptr);
        ASSERT_NE(canUnloadNow_, nullptr);
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    IClassFactory* factory(const CLSID& clsid) {
        IClassFactory* result = nullptr;
        EXPECT_EQ(
            getClassObject_(clsid, __uuidof(IClassFactory), reinterpret_cast<void**>(&result)),
            S_OK);
        return result;
    }

    HMODULE module_ = nullptr;
    GetClassObject getClassObject_ = nullptr;
    CanUnloadNow canUnloadNow_ = nullptr;
};

TEST_F(ComServer, RefusesUnknownClassesAndNullPointers) {
    void* object = reinterpret_cast<void*>(1);
    const CLSID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(getClassObject_(unknown, __uuidof(IClassFactory), &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject_(cvwin::kThumbnailProviderClsid, __uuidof(IClassFactory), nullptr),
              E_POINTER);
    EXPECT_EQ(
        getClassObject_(cvwin::kThumbnailProviderClsid, __uuidof(IThumbnailProvider), &object),
        E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComServer, CountsFactoriesObjectsAndLocks) {
    EXPECT_EQ(canUnloadNow_(), S_OK);
    IClassFactory* thumbnails = factory(cvwin::kThumbnailProviderClsid);
    ASSERT_NE(thumbnails, nullptr);
    EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a live factory keeps the server loaded";
    IThumbnailProvider* provider = nullptr;
    ASSERT_EQ(thumbnails->CreateInstance(nullptr, __uuidof(IThumbnailProvider),
                                         reinterpret_cast<void**>(&provider)),
              S_OK);
    thumbnails->Release();
    EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a live object keeps it loaded";
    provider->Release();
    EXPECT_EQ(canUnloadNow_(), S_OK);

    IClassFactory* again = factory(cvwin::kThumbnailProviderClsid);
    ASSERT_EQ(again->LockServer(TRUE), S_OK);
    again->Release();
    EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a server lock keeps it loaded";
    IClassFactory* unlock = factory(cvwin::kThumbnailProviderClsid);
    unlock->LockServer(FALSE);
    unlock->Release();
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(ComServer, FactoryRefusesAggregationAndServesEveryClass) {
    IClassFactory* thumbnails = factory(cvwin::kThumbnailProviderClsid);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(thumbnails->CreateInstance(reinterpret_cast<IUnknown*>(thumbnails),
                                         __uuidof(IUnknown), &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(thumbnails->CreateInstance(nullptr, __uuidof(IUnknown), nullptr), E_POINTER);
    EXPECT_EQ(thumbnails->CreateInstance(nullptr, __uuidof(IClassFactory), &object), E_NOINTERFACE);
    thumbnails->Release();
    for (const CLSID* clsid : {&cvwin::kPropertyStoreClsid, &cvwin::kPreviewHandlerClsid}) {
        IClassFactory* served = factory(*clsid);
        ASSERT_NE(served, nullptr);
        ASSERT_EQ(served->CreateInstance(nullptr, __uuidof(IUnknown), &object), S_OK);
        static_cast<IUnknown*>(object)->Release();
        served->Release();
    }
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

// A stream's references, read by adding one and dropping it again.
ULONG referencesOf(IStream* stream) {
    stream->AddRef();
    return stream->Release();
}

// Explorer may keep a store for as long as it shows the columns: it must not keep the file open
// meanwhile.
TEST_F(ComServer, ThePropertyStoreLetsGoOfItsStreamOnceInitialised) {
    IStream* stream = cvtest::memoryStream(cvtest::generatedSample("bitpix16.fits"));
    const ULONG before = referencesOf(stream);
    IClassFactory* properties = factory(cvwin::kPropertyStoreClsid);
    IInitializeWithStream* initialize = nullptr;
    ASSERT_EQ(properties->CreateInstance(nullptr, __uuidof(IInitializeWithStream),
                                         reinterpret_cast<void**>(&initialize)),
              S_OK);
    properties->Release();
    EXPECT_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
    EXPECT_EQ(referencesOf(stream), before) << "the store holds no reference to the stream";
    IPropertyStore* store = nullptr;
    ASSERT_EQ(
        initialize->QueryInterface(__uuidof(IPropertyStore), reinterpret_cast<void**>(&store)),
        S_OK);
    initialize->Release();
    DWORD count = 0;
    EXPECT_EQ(store->GetCount(&count), S_OK);
    EXPECT_GT(count, 0u) << "and still answers from what it read";
    store->Release();
    stream->Release();
}

// The library loaded on its own, as the shell loads it, and unloaded again.
class LoadedServer {
public:
    LoadedServer() : module_(LoadLibraryW(L"Corvane.dll")) {
        EXPECT_NE(module_, nullptr);
        if (module_ == nullptr) return;
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module_);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            reinterpret_cast<const BYTE*>(module_) + dos->e_lfanew);
        base = module_;
        size = nt->OptionalHeader.SizeOfImage;
        getClassObject_ = reinterpret_cast<GetClassObject>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        canUnloadNow_ = reinterpret_cast<CanUnloadNow>(
            reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
    }

    // An object of the class made through its factory and initialised with the stream.
    template <typename Interface>
    Interface* initialised(const CLSID& clsid, IStream* stream) {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(
            getClassObject_(clsid, __uuidof(IClassFactory), reinterpret_cast<void**>(&factory)),
            S_OK);
        Interface* result = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(Interface),
                                          reinterpret_cast<void**>(&result)),
                  S_OK);
        factory->Release();
        IInitializeWithStream* initialize = nullptr;
        EXPECT_EQ(result->QueryInterface(__uuidof(IInitializeWithStream),
                                         reinterpret_cast<void**>(&initialize)),
                  S_OK);
        EXPECT_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
        initialize->Release();
        return result;
    }

    bool mayUnload() const { return canUnloadNow_() == S_OK; }

    // Frees the library, then keeps its old range reserved, so that whatever
    // still points into it faults there and a later load lands elsewhere.
    void unloadAndReserve() {
        EXPECT_TRUE(FreeLibrary(module_));
        EXPECT_EQ(GetModuleHandleW(L"Corvane.dll"), nullptr) << "unloaded for good";
        reserved_ = VirtualAlloc(base, size, MEM_RESERVE, PAGE_NOACCESS);
        EXPECT_EQ(reserved_, base);
    }
    ~LoadedServer() {
        if (reserved_ != nullptr) VirtualFree(reserved_, 0, MEM_RELEASE);
    }

    void* base = nullptr;
    SIZE_T size = 0;

private:
    HMODULE module_;
    GetClassObject getClassObject_ = nullptr;
    CanUnloadNow canUnloadNow_ = nullptr;
    void* reserved_ = nullptr;
};

// The lowest free thread-local slot: a library that kept the slot it took
// (the lowest free one) after unloading would leave a different answer.
DWORD lowestFreeThreadSlot() {
    const DWORD slot = TlsAlloc();
    TlsFree(slot);
    return slot;
}

// The lowest free handle value, by the same reasoning (Wine's handle count is
// always 0, but handles are given out lowest first there too).
HANDLE lowestFreeHandle() {
    HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return probe;
}

bool hostCatchesItsOwnException() {
    try {
        throw std::runtime_error("the host's own");
    } catch (const std::runtime_error&) {
        return true;
    }
}

HRESULT thumbnailFrom(IThumbnailProvider* provider, UINT size = 64) {
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    const HRESULT result = provider->GetThumbnail(size, &bitmap, &alpha);
    if (bitmap != nullptr) DeleteObject(bitmap);
    return result;
}

// A library that left a handler behind would be called at the host's next
// exception, in memory that is no longer its own, and the process would die.
// Both classes that run guarded work are used before each unload, the
// thumbnail large enough for its bitmap to be made on a worker; no handle
// that a thumbnail opens may stay either.
TEST(ComServerUnload, LeavesNothingBehindThatTheHostsExceptionsCouldReach) {
    const std::string bytes = cvtest::generatedSample("starfield-1920x1280.fits");
    auto useAndUnload = [&](LoadedServer& server) {
        IStream* stream = cvtest::memoryStream(bytes);
        auto* provider =
            server.initialised<IThumbnailProvider>(cvwin::kThumbnailProviderClsid, stream);
        auto* store = server.initialised<IPropertyStore>(cvwin::kPropertyStoreClsid, stream);
        stream->Release();
        // 1,024 px prepares its bitmap on a worker; each size adds bands on the lane's pool
        // thread or reads rows ahead there.
        EXPECT_EQ(thumbnailFrom(provider, 1024), S_OK);
        EXPECT_EQ(thumbnailFrom(provider, 256), S_OK);
        EXPECT_EQ(thumbnailFrom(provider, 16), S_OK);
        DWORD count = 0;
        EXPECT_EQ(store->GetCount(&count), S_OK);
        EXPECT_GT(count, 0u) << "the store read the file through the guard too";
        provider->Release();
        store->Release();
        EXPECT_TRUE(server.mayUnload());
        server.unloadAndReserve();
        EXPECT_TRUE(hostCatchesItsOwnException());
    };
    const DWORD freeSlot = lowestFreeThreadSlot();
    LoadedServer first;
    useAndUnload(first);
    EXPECT_EQ(lowestFreeThreadSlot(), freeSlot) << "the guard's thread slot went with the library";
    // Taken after a first cycle, which may open handles of the system's own for good.
    const HANDLE freeHandle = lowestFreeHandle();
    LoadedServer second;
    EXPECT_NE(second.base, first.base) << "a new load, not the old one";
    useAndUnload(second);
    EXPECT_EQ(lowestFreeThreadSlot(), freeSlot);
    EXPECT_EQ(lowestFreeHandle(), freeHandle) << "what the thumbnail opened went with the library";
}

// The host takes back control from a fault in its own stream by jumping out
// above GetThumbnail, as an __except around the call would: no code of the
// library runs on the way out, and still nothing of it may stay behind.
void* gHostEscape[5];

[[noreturn]] void hostLanding(void** escape) {
    __builtin_longjmp(escape, 1);
}

LONG CALLBACK hostEscapes(EXCEPTION_POINTERS* exception) {
    if (!cvtest::isHostsOwnFault(exception)) return EXCEPTION_CONTINUE_SEARCH;
    CONTEXT* context = exception->ContextRecord;
    context->Rsp = ((context->Rsp - 256) & ~static_cast<DWORD64>(15)) - 8;
    context->Rcx = reinterpret_cast<DWORD64>(gHostEscape);
    context->Rip = reinterpret_cast<DWORD64>(&hostLanding);
    return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(ComServerUnload, LeavesNothingBehindWhenTheHostJumpsOutOfACall) {
    IStream* inner = cvtest::memoryStream(cvtest::generatedSample("bitpix16.fits"));
    cvtest::FaultingStream stream(inner);
    LoadedServer server;
    auto* provider = server.initialised<IThumbnailProvider>(cvwin::kThumbnailProviderClsid,
                                                            &stream);  // left behind
    void* handler = AddVectoredExceptionHandler(0, hostEscapes);
    bool escaped = false;
    if (__builtin_setjmp(gHostEscape) == 0) {
        thumbnailFrom(provider);
    } else {
        escaped = true;
    }
    RemoveVectoredExceptionHandler(handler);
    EXPECT_TRUE(escaped);
    server.unloadAndReserve();
    EXPECT_TRUE(hostCatchesItsOwnException());
    inner->Release();
}

// A class left registered would keep the first load's window procedure: the
// next preview after a reload at another address would call into nothing.
TEST(ComServerUnload, ThePreviewsWindowClassGoesWithTheLibrary) {
    HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100,
                                nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(host, nullptr);
    const std::string bytes = cvtest::generatedSample("bitpix8.fits");
    auto previewAndUnload = [&](LoadedServer& server) {
        IStream* stream = cvtest::memoryStream(bytes);
        auto* handler = server.initialised<IPreviewHandler>(cvwin::kPreviewHandlerClsid, stream);
        stream->Release();
        const RECT rect{0, 0, 200, 100};
        EXPECT_EQ(handler->SetWindow(host, &rect), S_OK);
        HWND window = FindWindowExW(host, nullptr, L"CorvanePreviewWindow", nullptr);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(UpdateWindow(window)) << "painted through this load's procedure";
        WNDCLASSEXW info{};
        info.cbSize = sizeof info;
        const auto instance = static_cast<HINSTANCE>(server.base);
        EXPECT_TRUE(GetClassInfoExW(instance, L"CorvanePreviewWindow", &info));
        EXPECT_EQ(handler->Unload(), S_OK);
        handler->Release();
        EXPECT_TRUE(server.mayUnload());
        server.unloadAndReserve();
        EXPECT_FALSE(GetClassInfoExW(instance, L"CorvanePreviewWindow", &info))
            << "unregistered with the library";
    };
    LoadedServer first;
    previewAndUnload(first);
    LoadedServer second;
    EXPECT_NE(second.base, first.base);
    previewAndUnload(second);
    DestroyWindow(host);
}

// Live handles, by probing values (Wine answers 0 for their count), and the
// blocks in use on every heap of the process.
std::pair<int, long> handlesAndHeapBlocks() {
    constexpr std::uintptr_t kLastHandleProbed = 0x4000;  // far above what the tests hold
    constexpr DWORD kMaxHeaps = 64;
    std::pair<int, long> counts{0, 0};
    DWORD flags = 0;
    for (std::uintptr_t value = 4; value <= kLastHandleProbed; value += 4)
        counts.first += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    HANDLE heaps[kMaxHeaps];
    const DWORD count = std::min(GetProcessHeaps(kMaxHeaps, heaps), kMaxHeaps);
    for (DWORD i = 0; i < count; ++i) {
        PROCESS_HEAP_ENTRY entry{};
        HeapLock(heaps[i]);
        while (HeapWalk(heaps[i], &entry))
            counts.second += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0;
        HeapUnlock(heaps[i]);
    }
    return counts;
}

// Each load draws a thumbnail on this thread and a preview on a pool thread:
// what the runtime linked into the library sets up once per load, or per
// thread, must go with the load.
TEST(ComServerUnload, LeavesNoHandleOrHeapBlockPerLoadThatDrew) {
    constexpr int kLoads = 20;
    HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100,
                                nullptr, nullptr, nullptr, nullptr);
    const std::string bytes = cvtest::generatedSample("bitpix16.fits");
    std::pair<int, long> afterFirst;
    for (int load = 0; load < kLoads; ++load) {
        LoadedServer server;
        IStream* stream = cvtest::memoryStream(bytes);
        auto* thumbnails =
            server.initialised<IThumbnailProvider>(cvwin::kThumbnailProviderClsid, stream);
        EXPECT_EQ(thumbnailFrom(thumbnails), S_OK);
        thumbnails->Release();
        auto* preview = server.initialised<IPreviewHandler>(cvwin::kPreviewHandlerClsid, stream);
        const ULONG heldByHandler = referencesOf(stream);
        const RECT rect{0, 0, 200, 100};
        preview->SetWindow(host, &rect);
        EXPECT_EQ(preview->DoPreview(), S_OK);
        EXPECT_TRUE(cvtest::pumpUntil([&] { return referencesOf(stream) == heldByHandler; }))
            << "the job ended";
        preview->Unload();
        preview->Release();
        stream->Release();
        server.unloadAndReserve();
        if (load == 0) afterFirst = handlesAndHeapBlocks();
    }
    EXPECT_EQ(handlesAndHeapBlocks(), afterFirst) << "(handles, heap blocks) after the first load";
    DestroyWindow(host);
}

TEST(ComServerFile, CarriesTheProjectsVersion) {
    const DWORD size = GetFileVersionInfoSizeW(L"Corvane.dll", nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(L"Corvane.dll", 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS,
              static_cast<DWORD>(CORVANE_VERSION_MAJOR << 16 | CORVANE_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(CORVANE_VERSION_PATCH << 16));
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(text), L"" CORVANE_VERSION);
}

}  // namespace
