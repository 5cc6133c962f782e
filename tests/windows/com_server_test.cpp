// Corvane.dll loaded the way the shell loads it.
#include <windows.h>
#include <thumbcache.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "shell/class_ids_win.h"
#include "windows/thumbnail_helpers.h"

namespace {

using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(__stdcall*)();

class ComServer : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(L"Corvane.dll");
        ASSERT_NE(module_, nullptr) << "Corvane.dll beside the tests";
        getClassObject_ = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
        canUnloadNow_ = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
        ASSERT_NE(getClassObject_, nullptr);
        ASSERT_NE(canUnloadNow_, nullptr);
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    IClassFactory* factory(const CLSID& clsid) {
        IClassFactory* result = nullptr;
        EXPECT_EQ(getClassObject_(clsid, __uuidof(IClassFactory), reinterpret_cast<void**>(&result)), S_OK);
        return result;
    }

    HMODULE module_ = nullptr;
    GetClassObject getClassObject_ = nullptr;
    CanUnloadNow canUnloadNow_ = nullptr;
};

TEST_F(ComServer, RefusesUnknownClassesAndNullPointers) {
    void* object = reinterpret_cast<void*>(1);
    const CLSID unknown = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
    EXPECT_EQ(getClassObject_(unknown, __uuidof(IClassFactory), &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(getClassObject_(cvwin::kThumbnailProviderClsid, __uuidof(IClassFactory), nullptr), E_POINTER);
    EXPECT_EQ(getClassObject_(cvwin::kThumbnailProviderClsid, __uuidof(IThumbnailProvider), &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComServer, CountsFactoriesObjectsAndLocks) {
    EXPECT_EQ(canUnloadNow_(), S_OK);
    IClassFactory* thumbnails = factory(cvwin::kThumbnailProviderClsid);
    ASSERT_NE(thumbnails, nullptr);
    EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a live factory keeps the server loaded";
    IThumbnailProvider* provider = nullptr;
    ASSERT_EQ(thumbnails->CreateInstance(nullptr, __uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)), S_OK);
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

TEST_F(ComServer, FactoryRefusesAggregationAndClassesNotBuiltYet) {
    IClassFactory* thumbnails = factory(cvwin::kThumbnailProviderClsid);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(thumbnails->CreateInstance(reinterpret_cast<IUnknown*>(thumbnails), __uuidof(IUnknown), &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(thumbnails->CreateInstance(nullptr, __uuidof(IUnknown), nullptr), E_POINTER);
    EXPECT_EQ(thumbnails->CreateInstance(nullptr, __uuidof(IClassFactory), &object), E_NOINTERFACE);
    thumbnails->Release();
    for (const CLSID* clsid : {&cvwin::kPropertyStoreClsid, &cvwin::kPreviewHandlerClsid}) {
        IClassFactory* later = factory(*clsid);
        ASSERT_NE(later, nullptr);
        EXPECT_EQ(later->CreateInstance(nullptr, __uuidof(IUnknown), &object), E_UNEXPECTED);
        later->Release();
    }
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

// Loads the library, makes one thumbnail through its class factory as the
// shell does, releases everything and unloads it. Returns the range the
// library occupied.
struct LoadedRange {
    void* base = nullptr;
    SIZE_T size = 0;
};

LoadedRange thumbnailThroughAFreshLoad(const std::string& bytes) {
    HMODULE module = LoadLibraryW(L"Corvane.dll");
    EXPECT_NE(module, nullptr);
    if (module == nullptr) return {};
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const BYTE*>(module) + dos->e_lfanew);
    const LoadedRange range{module, nt->OptionalHeader.SizeOfImage};
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    const auto canUnloadNow =
        reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    IClassFactory* factory = nullptr;
    EXPECT_EQ(getClassObject(cvwin::kThumbnailProviderClsid, __uuidof(IClassFactory), reinterpret_cast<void**>(&factory)),
              S_OK);
    IThumbnailProvider* provider = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)), S_OK);
    factory->Release();
    IInitializeWithStream* initialize = nullptr;
    EXPECT_EQ(provider->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&initialize)), S_OK);
    IStream* stream = cvtest::memoryStream(bytes);
    EXPECT_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
    stream->Release();
    initialize->Release();
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    EXPECT_EQ(provider->GetThumbnail(64, &bitmap, &alpha), S_OK);
    DeleteObject(bitmap);
    provider->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleW(L"Corvane.dll"), nullptr) << "unloaded for good";
    return range;
}

bool hostCatchesItsOwnException() {
    try {
        throw std::runtime_error("the host's own");
    } catch (const std::runtime_error&) {
        return true;
    }
}

// A library that left a handler behind would be called at the host's next
// exception, in memory that is no longer its own, and the process would die.
// The old range is reserved, so whatever pointed into it faults, and the
// second load lands elsewhere.
TEST(ComServerUnload, LeavesNothingBehindThatTheHostsExceptionsCouldReach) {
    const std::string bytes = cvtest::generatedSample("bitpix16.fits");
    const LoadedRange first = thumbnailThroughAFreshLoad(bytes);
    ASSERT_NE(first.base, nullptr);
    void* reserved = VirtualAlloc(first.base, first.size, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_EQ(reserved, first.base);
    EXPECT_TRUE(hostCatchesItsOwnException());
    const LoadedRange second = thumbnailThroughAFreshLoad(bytes);
    EXPECT_NE(second.base, first.base);
    EXPECT_TRUE(hostCatchesItsOwnException());
    VirtualFree(reserved, 0, MEM_RELEASE);
}

}  // namespace
