#pragma once

#include <objidl.h>

#include <cstdint>
#include <memory>

#include "core/reader.h"

namespace cvwin {

// Told before and after each call to a stream that may block (Seek and the
// Reads of one read), by the thread making it.
class BlockingCallObserver {
public:
    virtual void beforeBlockingCall() = 0;
    virtual void afterBlockingCall() = 0;

protected:
    ~BlockingCallObserver() = default;
};

// The byte source over the shell's IStream: seeks, then reads until the
// request is filled, at most 256 MiB per Read call. Its twins read the same
// stream from another thread, one Seek and its Reads at a time under a lock
// they share with it; a stream that is a proxy, whose calls belong to one
// apartment, has none.
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
    // Tells `observer` (null: no one) of the stream calls of each read from
    // now on; it must outlive those reads.
    void observeBlockingCalls(BlockingCallObserver* observer) { observer_ = observer; }

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    // Tells no observer: the observer belongs to the thread that set it.
    std::unique_ptr<cv::Reader> twin() override;

private:
    // A twin: the origin's stream, without a reference of its own (a twin
    // ends before its origin), and the origin's lock.
    StreamAdapter(IStream* stream, std::uint64_t size, SRWLOCK* lock)
        : stream_(stream), size_(size), lock_(lock), ownsStream_(false) {}
    bool readStream(std::uint64_t offset, unsigned char* destination, std::uint64_t count);
    bool seekAndRead(LARGE_INTEGER position, unsigned char* destination, std::uint64_t count);

    IStream* stream_ = nullptr;
    std::uint64_t size_ = 0;
    SRWLOCK ownLock_ = SRWLOCK_INIT;
    SRWLOCK* lock_ = &ownLock_;  // held for each Seek and its Reads
    bool ownsStream_ = true;
    BlockingCallObserver* observer_ = nullptr;
};

}  // namespace cvwin
