#include "shell/stream_adapter_win.h"

#include <algorithm>

#include "shell/fault_guard_win.h"

namespace cvwin {

namespace {

constexpr std::uint64_t kMaxBytesPerRead = 0x10000000;  // keeps each count within a ULONG

}  // namespace

StreamAdapter::~StreamAdapter() {
    detach();
}

bool StreamAdapter::attach(IStream* stream) {
    detach();
    if (stream == nullptr) return false;
    STATSTG stat{};
    const ForeignCall call;
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return false;
    stream->AddRef();
    stream_ = stream;
    size_ = stat.cbSize.QuadPart;
    return true;
}

void StreamAdapter::detach() {
    const ForeignCall call;
    if (stream_ != nullptr) stream_->Release();
    stream_ = nullptr;
    size_ = 0;
    position_.reset();
}

bool StreamAdapter::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    if (stream_ == nullptr || destination == nullptr) return false;
    if (count == 0) return true;
    if (count > size_ || offset > size_ - count) return false;
    if (observer_ == nullptr)
        return readStream(offset, static_cast<unsigned char*>(destination), count);
    observer_->beforeBlockingCall();
    const bool delivered = readStream(offset, static_cast<unsigned char*>(destination), count);
    observer_->afterBlockingCall();
    return delivered;
}

bool StreamAdapter::readStream(std::uint64_t offset, unsigned char* out, std::uint64_t count) {
    const ForeignCall call;
    const bool positioned = position_ == offset;
    position_.reset();
    if (!positioned) {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        if (FAILED(stream_->Seek(position, STREAM_SEEK_SET, nullptr))) return false;
    }
    while (count > 0) {
        const auto chunk = static_cast<ULONG>(std::min(count, kMaxBytesPerRead));
        ULONG got = 0;
        // Nothing delivered, or more than asked for (which would wrap the count), is a failed read.
        if (FAILED(stream_->Read(out, chunk, &got)) || got == 0 || got > chunk) return false;
        out += got;
        offset += got;
        count -= got;
    }
    if (soleUse_) position_ = offset;
    return true;
}

}  // namespace cvwin
