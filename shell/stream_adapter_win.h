#pragma once

#include <objidl.h>

#include <cstdint>

#include "core/reader.h"

namespace cvwin {

// The byte source over the shell's IStream: seeks, then reads until the
// request is filled, at most 256 MiB per Read call.
class StreamAdapter final : public cv::Reader {
public:
    StreamAdapter() = default;
    StreamAdapter(const StreamAdapter&) = delete;
    StreamAdapter& operator=(const StreamAdapter&) = delete;
    ~StreamAdapter() override;

    // Drops any stream held; takes a reference on `stream` and its size.
    // False for a null stream or one whose Stat fails (then nothing is held).
    bool attach(IStream* stream);
    void detach();
    IStream* stream() const { return stream_; }  // null when none is held

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;

private:
    IStream* stream_ = nullptr;
    std::uint64_t size_ = 0;
};

}  // namespace cvwin
