#pragma once

#include <windows.h>
#include <objidl.h>

#include <atomic>

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

// A test's stream over another one, living on the test's stack: its
// references are not counted, and what it does not watch goes to `inner`.
class StreamOverAnother : public ReadOnlyStream {
public:
    explicit StreamOverAnother(IStream* inner) : inner_(inner) {}
    IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
    IFACEMETHODIMP_(ULONG) Release() override { return 1; }
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        return inner_->Read(out, count, got);
    }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return inner_->Seek(move, origin, position);
    }
    IFACEMETHODIMP Stat(STATSTG* stat, DWORD flags) override { return inner_->Stat(stat, flags); }

protected:
    IStream* inner_;
};

// Tells the first thread to ask apart from every later one.
class FirstCaller {
public:
    bool isFirst() {
        DWORD none = 0;
        first_.compare_exchange_strong(none, GetCurrentThreadId());
        return first_.load() == GetCurrentThreadId();
    }

private:
    std::atomic<DWORD> first_{0};
};

}  // namespace cvtest
