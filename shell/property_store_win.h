#pragma once

#include <windows.h>
#include <propsys.h>

#include <vector>

#include "shell/stream_adapter_win.h"

namespace cvwin {

// Makes a property store and asks it for `riid` (the class factory's
// creation function).
HRESULT createPropertyStore(REFIID riid, void** object);

// Explorer's property handler: reads the file once, in Initialize, into a
// list of values (the portable property list, so the Linux tool shows the
// same), then answers from that list. Read-only: a file is never changed.
class PropertyStore final : public IPropertyStore, public IPropertyStoreCapabilities, public IInitializeWithStream {
public:
    PropertyStore();
    PropertyStore(const PropertyStore&) = delete;
    PropertyStore& operator=(const PropertyStore&) = delete;

    IFACEMETHODIMP QueryInterface(REFIID riid, void** object) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;
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

    ~PropertyStore();
    static HRESULT load(void* context);
    void clear();

    volatile LONG references_ = 1;
    StreamAdapter source_;
    std::vector<Entry> entries_;
    bool initialized_ = false;
};

}  // namespace cvwin
