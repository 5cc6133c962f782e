// Corvane.dll loaded the way the shell loads it.
#include <windows.h>
#include <thumbcache.h>

#include <gtest/gtest.h>

#include "shell/class_ids_win.h"

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

}  // namespace
