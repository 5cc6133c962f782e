#pragma once

#include <objidl.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/reader.h"
#include "shell/blocking_call_observer_win.h"
#include "shell/read_ahead_lane_win.h"

namespace cvwin {

// The byte source over the shell's IStream: seeks, then reads until the
// request is filled, at most 256 MiB per Read call. The stream has one seek
// pointer, so each Seek and Read that follows it is one turn, taken by one
// thread at a time: a read-ahead lane's batches, and a twin's reads on the
// render's second lane, take their turns with the caller's thread.
class StreamAdapter final : public cv::Reader {
public:
    StreamAdapter() = default;
    StreamAdapter(const StreamAdapter&) = delete;
    StreamAdapter& operator=(const StreamAdapter&) = delete;
    ~StreamAdapter() override;

    // Drops any stream held; takes a reference on `stream` and its size.
    // False for a null stream or one whose Stat fails (then nothing is held).
    bool attach(IStream* stream);
    // Drops the stream. A lane still set was left by a caller the host jumped
    // out of, and is forgotten without waiting on it: a caller that lives ends
    // its use with readAheadThrough(nullptr) first.
    void detach();
    IStream* stream() const { return stream_; }  // null when none is held
    // Tells `observer` (null: no one) of the stream calls of each read from
    // now on; it must outlive those reads.
    void observeBlockingCalls(BlockingCallObserver* observer) { observer_ = observer; }
    // While on, nobody else moves the stream's pointer, so a read that starts
    // where the last one ended skips the Seek: every call to the shell's
    // stream costs a system call or two. Off by default; either way the
    // position is forgotten.
    void assumeSoleUse(bool sole) {
        soleUse_ = sole;
        position_.reset();
    }

    // Reads ahead through `lane` from now on. Null ends that use, once the
    // batch under way is waited for; the lane must live until then. A lane
    // found still set when another is given was left by a caller the host
    // jumped out of, and is forgotten untouched.
    void readAheadThrough(ReadAheadLane* lane);

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    bool readsAhead() const override;
    bool readAhead(std::span<const cv::ReadRequest> requests) override;
    // The wait counts as a call to the stream for the observer. A batch the
    // lane had not begun, or could not read, is read here instead; after a
    // fault on the lane the stream is never called again.
    bool collectAhead() override;
    void dropAhead() override;
    // Null without a lane (the twin's reads belong on its thread), for a proxy
    // (its calls belong to one thread), after a fault in the stream's code,
    // and while a batch is read ahead. While a twin lives, nothing is read
    // ahead.
    std::unique_ptr<cv::Reader> twin() override;

private:
    friend class StreamAdapterTwin;
    ReadAheadLane::Collected waitForLane();
    static bool readOnLane(void* adapter, std::uint64_t offset, void* destination,
                           std::uint64_t count);
    bool readChecked(std::uint64_t offset, void* destination, std::uint64_t count, bool inTurns);
    bool readInTurn(std::uint64_t offset, unsigned char* destination, std::uint64_t count);
    bool readStream(std::uint64_t offset, unsigned char* destination, std::uint64_t count);
    static void releaseTurnAfterFault(void* adapter);

    IStream* stream_ = nullptr;
    std::uint64_t size_ = 0;
    bool soleUse_ = false;
    // Where the stream's seek pointer stands after this adapter's last call
    // while in sole use; unknown after a failure and before the first Seek.
    std::optional<std::uint64_t> position_;
    BlockingCallObserver* observer_ = nullptr;
    ReadAheadLane* lane_ = nullptr;
    bool readingAhead_ = false;  // a batch started through the lane is not yet collected
    std::span<const cv::ReadRequest> aheadRequests_;  // that batch, which its caller keeps
    // A proxy's calls belong to one apartment: no other thread may make them.
    bool proxy_ = false;
    // A fault in the stream's code on another thread: no call goes to it again.
    std::atomic<bool> poisoned_{false};
    SRWLOCK turn_ = SRWLOCK_INIT;
    std::atomic<DWORD> turnHolder_{0};  // the thread taking its turn, or 0
    std::atomic<int> twins_{0};
};

}  // namespace cvwin
