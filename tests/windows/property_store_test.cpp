// The property store as Explorer drives it: created, initialised with a
// stream, asked for keys and values; compared with the portable property
// list that `corvane info --json` prints.
#include <windows.h>
#include <propsys.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/utf16.h"
#include "metadata/property_list.h"
#include "samples/text_samples.h"
#include "support/fits_builder.h"
#include "shell/property_store_win.h"
#include "windows/thumbnail_helpers.h"

namespace {

IPropertyStore* storeFor(const std::string& bytes) {
    IPropertyStore* store = nullptr;
    EXPECT_EQ(
        cvwin::createPropertyStore(__uuidof(IPropertyStore), reinterpret_cast<void**>(&store)),
        S_OK);
    IInitializeWithStream* initialize = nullptr;
    EXPECT_EQ(store->QueryInterface(__uuidof(IInitializeWithStream),
                                    reinterpret_cast<void**>(&initialize)),
              S_OK);
    IStream* stream = cvtest::memoryStream(bytes);
    EXPECT_EQ(initialize->Initialize(stream, STGM_READ), S_OK);
    stream->Release();
    initialize->Release();
    return store;
}

PROPERTYKEY keyOf(const cv::PropertyKeyInfo& info) {
    PROPERTYKEY key{};
    const std::wstring text(info.formatId.begin(), info.formatId.end());
    EXPECT_EQ(CLSIDFromString(text.c_str(), &key.fmtid), S_OK);
    key.pid = info.propertyId;
    return key;
}

bool readablePropertyList(const std::string& bytes, cv::PropertyList& list) {
    cv::MemoryReader reader(bytes.data(), bytes.size());
    return cv::readPropertyList(reader, list) == cv::ReadStatus::Ok;
}

// Key for key, type for type, value for value.
void expectSameAsPortableList(const std::string& name, const std::string& bytes) {
    cv::PropertyList expected;
    const bool readable = readablePropertyList(bytes, expected);
    IPropertyStore* store = storeFor(bytes);
    DWORD count = 0;
    ASSERT_EQ(store->GetCount(&count), S_OK);
    ASSERT_EQ(count, readable ? expected.size() : 0u) << name;
    for (DWORD i = 0; i < count; ++i) {
        const cv::PropertyEntry& entry = expected[i];
        PROPERTYKEY key{};
        ASSERT_EQ(store->GetAt(i, &key), S_OK);
        const PROPERTYKEY wanted = keyOf(*entry.key);
        EXPECT_TRUE(IsEqualGUID(key.fmtid, wanted.fmtid) && key.pid == wanted.pid)
            << name << ": " << entry.key->canonicalName;
        PROPVARIANT value;
        ASSERT_EQ(store->GetValue(wanted, &value), S_OK);
        switch (entry.key->type) {
            case cv::PropertyType::Text:
                ASSERT_EQ(value.vt, VT_LPWSTR) << name << ": " << entry.key->canonicalName;
                EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(value.pwszVal)),
                          cv::utf16FromUtf8(entry.text))
                    << name << ": " << entry.key->canonicalName;
                break;
            case cv::PropertyType::UInt32:
                ASSERT_EQ(value.vt, VT_UI4) << name << ": " << entry.key->canonicalName;
                EXPECT_EQ(value.ulVal, entry.number) << name << ": " << entry.key->canonicalName;
                break;
            case cv::PropertyType::Double:
                ASSERT_EQ(value.vt, VT_R8) << name << ": " << entry.key->canonicalName;
                EXPECT_EQ(value.dblVal, entry.real) << name << ": " << entry.key->canonicalName;
                break;
        }
        PropVariantClear(&value);
    }
    store->Release();
}

TEST(PropertyStore, AnswersWhatThePortableListSaysForEverySample) {
    auto samples = cvtest::generatedSamples();
    for (auto& sample : cvsamples::textSamples()) samples.push_back(std::move(sample));
    for (const auto& sample : samples) expectSameAsPortableList(sample.name, sample.build());
}

TEST(PropertyStore, AnswersWhatThePortableListSaysForEveryRealFile) {
    const std::filesystem::path external(CORVANE_EXTERNAL_TESTDATA);
    if (!std::filesystem::exists(external)) GTEST_SKIP() << "no real files at " << external;
    int readable = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(external)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        expectSameAsPortableList(entry.path().filename().string(), bytes);
        cv::PropertyList list;
        readable += readablePropertyList(bytes, list) ? 1 : 0;
    }
    EXPECT_GT(readable, 0) << "files whose properties were read";
}

bool isUnsafeToShow(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

TEST(PropertyStore, GivesExplorerNoControlOrBidiCharacterFromTheFile) {
    const std::string hostile = std::string("\x1b[31m\0\u202E\u2066\xC2\x85\x7F", 13) + "txt";
    cvsamples::FitsHeader header = cvsamples::primaryImageHeader(8, {2, 2});
    for (const char* name : {"OBJECT", "FILTER", "INSTRUME", "TELESCOP", "OBSERVER", "IMAGETYP"})
        header.text(name, hostile);
    const std::string file = cvtest::hdu(header, 4);
    IPropertyStore* store = storeFor(file);
    DWORD count = 0;
    ASSERT_EQ(store->GetCount(&count), S_OK);
    int texts = 0;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key{};
        ASSERT_EQ(store->GetAt(i, &key), S_OK);
        PROPVARIANT value;
        ASSERT_EQ(store->GetValue(key, &value), S_OK);
        if (value.vt == VT_LPWSTR) {
            const std::u16string text(reinterpret_cast<const char16_t*>(value.pwszVal));
            EXPECT_EQ(std::count_if(text.begin(), text.end(), isUnsafeToShow), 0);
            texts += text.ends_with(u"txt") ? 1 : 0;
        }
        PropVariantClear(&value);
    }
    store->Release();
    EXPECT_GE(texts, 6) << "each hostile value reaches Explorer whole, after the NUL too";
}

TEST(PropertyStore, ADamagedFileGivesAnInitialisedEmptyStore) {
    std::string damaged = cvtest::generatedSample("format-UInt16.xisf");
    damaged.replace(16, 5, "<<<<<");  // the XML header's first bytes
    IPropertyStore* store = storeFor(damaged);
    DWORD count = 1;
    EXPECT_EQ(store->GetCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    store->Release();
}

TEST(PropertyStore, IsReadOnlyAndAnswersEdgesAsTheShellExpects) {
    IPropertyStore* store = storeFor(cvtest::generatedSample("bitpix16.fits"));
    DWORD count = 0;
    ASSERT_EQ(store->GetCount(&count), S_OK);
    ASSERT_GT(count, 0u);
    PROPERTYKEY key{};
    EXPECT_EQ(store->GetAt(count, &key), E_INVALIDARG);
    EXPECT_EQ(store->GetAt(0, nullptr), E_POINTER);
    const PROPERTYKEY absent = keyOf(*cv::ownPropertyKey(31));  // frames: sequences only
    PROPVARIANT value;
    value.vt = VT_I4;
    EXPECT_EQ(store->GetValue(absent, &value), S_OK);
    EXPECT_EQ(value.vt, VT_EMPTY);
    ASSERT_EQ(store->GetAt(0, &key), S_OK);
    PropVariantInit(&value);
    EXPECT_EQ(store->SetValue(key, value), STG_E_ACCESSDENIED);
    EXPECT_EQ(store->Commit(), S_OK);
    IPropertyStoreCapabilities* capabilities = nullptr;
    ASSERT_EQ(store->QueryInterface(__uuidof(IPropertyStoreCapabilities),
                                    reinterpret_cast<void**>(&capabilities)),
              S_OK);
    EXPECT_EQ(capabilities->IsPropertyWritable(key), S_FALSE);
    capabilities->Release();
    IInitializeWithStream* initialize = nullptr;
    ASSERT_EQ(store->QueryInterface(__uuidof(IInitializeWithStream),
                                    reinterpret_cast<void**>(&initialize)),
              S_OK);
    IStream* other = cvtest::memoryStream(cvtest::generatedSample("bitpix8.fits"));
    EXPECT_EQ(initialize->Initialize(other, STGM_READ),
              HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
    other->Release();
    initialize->Release();
    DWORD after = 0;
    EXPECT_EQ(store->GetCount(&after), S_OK);
    EXPECT_EQ(after, count) << "the first file's values stay";
    store->Release();
}

}  // namespace
