#pragma once

#include <objidl.h>

namespace cvtest {

// The parts of IStream a reader never uses, refused; test streams supply
// reference counting, Read, Seek and Stat.
class ReadOnlyStream : public IStream {
public:
    IFACEMETHODIMP QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    IFACEMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    IFACEMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    IFACEMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    IFACEMETHODIMP Revert() override { return E_NOTIMPL; }
    IFACEMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    IFACEMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return E_NOTIMPL;
    }
    IFACEMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
};

}  // namespace cvtest
