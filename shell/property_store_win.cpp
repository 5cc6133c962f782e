#include "shell/property_store_win.h"

#include <propsys.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/utf16.h"
#include "metadata/property_list.h"
#include "shell/com_object_win.h"
#include "shell/fault_guard_win.h"
#include "shell/read_status_hresult_win.h"
#include "shell/stream_adapter_win.h"

namespace cvwin {

namespace {

// "{xxxxxxxx-...}" of the portable key table as the shell's GUID.
bool guidFromText(std::string_view text, GUID& guid) {
    std::wstring wide(text.begin(), text.end());
    return SUCCEEDED(CLSIDFromString(wide.c_str(), &guid));
}

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 is copied into wide strings as it is");

// A copy of a UTF-8 text the caller frees with CoTaskMemFree; null when out of memory.
wchar_t* taskMemoryText(const std::string& text) {
    const std::u16string utf16 = cv::utf16FromUtf8(text);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((utf16.size() + 1) * sizeof(wchar_t)));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, utf16.data(), utf16.size() * sizeof(wchar_t));
    copy[utf16.size()] = L'\0';
    return copy;
}

// The entry's value in the variant type its key declares; false when out of memory.
bool variantOf(const cv::PropertyEntry& entry, PROPVARIANT& value) {
    PropVariantInit(&value);
    switch (entry.key->type) {
        case cv::PropertyType::Text:
            value.pwszVal = taskMemoryText(entry.text);
            if (value.pwszVal == nullptr) return false;
            value.vt = VT_LPWSTR;
            return true;
        case cv::PropertyType::UInt32:
            value.vt = VT_UI4;
            value.ulVal = entry.number;
            return true;
        case cv::PropertyType::Double:
            value.vt = VT_R8;
            value.dblVal = entry.real;
            return true;
    }
    return false;
}

bool sameKey(const PROPERTYKEY& a, const PROPERTYKEY& b) {
    return a.pid == b.pid && IsEqualGUID(a.fmtid, b.fmtid);
}

class PropertyStore final
    : public ComObject<IPropertyStore, IPropertyStoreCapabilities, IInitializeWithStream> {
public:
    IFACEMETHODIMP GetCount(DWORD* count) override;
    IFACEMETHODIMP GetAt(DWORD index, PROPERTYKEY* key) override;
    IFACEMETHODIMP GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
    IFACEMETHODIMP SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override;
    IFACEMETHODIMP Commit() override;
    IFACEMETHODIMP IsPropertyWritable(REFPROPERTYKEY key) override;
    IFACEMETHODIMP Initialize(IStream* stream, DWORD mode) override;

private:
    struct Entry {
        PROPERTYKEY key;
        PROPVARIANT value;
    };

    // What the guarded load reads from and fills.
    struct Load {
        StreamAdapter& source;
        std::vector<Entry>& entries;
    };

    ~PropertyStore() override { clear(); }
    static HRESULT load(void* context);
    void clear();

    std::vector<Entry> entries_;
    bool initialized_ = false;
};

}  // namespace

HRESULT createPropertyStore(REFIID riid, void** object) {
    return createObject<PropertyStore>(riid, object);
}

void PropertyStore::clear() {
    for (Entry& entry : entries_) PropVariantClear(&entry.value);
    entries_.clear();
}

// Runs inside the fault guard: reads the file and turns its list into variants.
HRESULT PropertyStore::load(void* context) {
    const auto& work = *static_cast<Load*>(context);
    cv::PropertyList list;
    if (const cv::ReadStatus status = cv::readPropertyList(work.source, list);
        status != cv::ReadStatus::Ok) {
        return hresultFromWholeRead(status);
    }
    work.entries.reserve(list.size());
    for (const cv::PropertyEntry& property : list) {
        Entry entry{};
        if (!guidFromText(property.key->formatId, entry.key.fmtid)) return E_FAIL;
        entry.key.pid = property.key->propertyId;
        if (!variantOf(property, entry.value)) return E_OUTOFMEMORY;
        work.entries.push_back(entry);
    }
    return S_OK;
}

// Everything is read here, so the stream (and the file behind it) goes back
// before Initialize returns: Explorer may keep a store for as long as it
// shows the file's columns.
IFACEMETHODIMP PropertyStore::Initialize(IStream* stream, DWORD) {
    if (initialized_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    StreamAdapter source;
    if (!source.attach(stream)) return E_INVALIDARG;
    Load work{source, entries_};
    // A file that cannot be read leaves an empty store: the shell shows no values, and no error.
    if (FAILED(runGuarded(&PropertyStore::load, &work))) clear();
    initialized_ = true;
    return S_OK;
}

IFACEMETHODIMP PropertyStore::GetCount(DWORD* count) {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<DWORD>(entries_.size());
    return S_OK;
}

IFACEMETHODIMP PropertyStore::GetAt(DWORD index, PROPERTYKEY* key) {
    if (key == nullptr) return E_POINTER;
    if (index >= entries_.size()) return E_INVALIDARG;
    *key = entries_[index].key;
    return S_OK;
}

IFACEMETHODIMP PropertyStore::GetValue(REFPROPERTYKEY key, PROPVARIANT* value) {
    if (value == nullptr) return E_POINTER;
    PropVariantInit(value);
    for (const Entry& entry : entries_) {
        if (sameKey(entry.key, key)) return PropVariantCopy(value, &entry.value);
    }
    return S_OK;
}

IFACEMETHODIMP PropertyStore::SetValue(REFPROPERTYKEY, REFPROPVARIANT) {
    return STG_E_ACCESSDENIED;
}

IFACEMETHODIMP PropertyStore::Commit() {
    return S_OK;
}

IFACEMETHODIMP PropertyStore::IsPropertyWritable(REFPROPERTYKEY) {
    return S_FALSE;
}

}  // namespace cvwin
