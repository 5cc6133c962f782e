#pragma once

#include <windows.h>

#include <atomic>

#include "windows/read_only_stream.h"

namespace cvtest {

// A host's stream over another one whose every Read first sleeps
// `delayMs`, or, given an event, blocks until the event is set (a dead
// network share), counting the Reads that are waiting.
class DelayedStream final : public ReadOnlyStream {
public:
    static constexpr DWORD kLongestBlockMs = 60000;  // a test that never sets the event still ends

    DelayedStream(IStream* inner, DWORD delayMs, HANDLE release = nullptr)
        : inner_(inner), delayMs_(delayMs), release_(release) {}
    ~DelayedStream() { inner_->Release(); }
    IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
    IFACEMETHODIMP_(ULONG) Release() override {
        const LONG count = --references_;
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        ++waiting;
        if (release_ != nullptr)
            WaitForSingleObject(release_, kLongestBlockMs);
        else
            Sleep(delayMs_);
        --waiting;
        ++reads;
        return inner_->Read(out, count, got);
    }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return inner_->Seek(move, origin, position);
    }
    IFACEMETHODIMP Stat(STATSTG* stat, DWORD flags) override { return inner_->Stat(stat, flags); }

    std::atomic<int> waiting{0};
    std::atomic<int> reads{0};

private:
    IStream* inner_;
    DWORD delayMs_;
    HANDLE release_;
    std::atomic<LONG> references_{1};
};

}  // namespace cvtest
