#pragma once

#include <windows.h>

#include <atomic>
#include <span>

#include "core/reader.h"
#include "render/lane_thread.h"
#include "shell/blocking_call_observer_win.h"
#include "shell/fault_guard_win.h"

namespace cvwin {

struct ReadAheadShare;

// Another worker of the same render, which keeps the second processor busy
// while it runs.
class CompetingWorker {
public:
    virtual bool running() const = 0;

protected:
    ~CompetingWorker() = default;
};

// A thread of the system's pool that reads a batch of ranges from the shell's
// stream while the render's thread adds the batch before it: every call to
// the stream costs a system call or two, and the stream has no second seek
// pointer to read from two threads at once, so the calls are moved off the
// render's thread rather than split between two. It reads only between
// start() and collect(), so the stream is used by one thread at a time.
//
// It also lends its thread to the render's second lane (cv::LaneThread),
// whose share of the bands then reads through a twin of the caller's stream
// while the caller's thread adds the other share.
//
// The callback runs under its own fault guard: a fault on it, in the
// stream's code too, fails the batch or the share, and nothing starts after it (the
// guard comes first, so it also takes a fault the stream would have handled
// itself, and the stream's state is unknown from then on). It holds
// its own reference to this library and its own share of the state, so a
// host that jumps out past this object's destructor leaks a pool thread
// rather than leaving it to run in freed memory or an unloaded library. The
// destructor waits for the callback to return.
class ReadAheadLane final : public cv::LaneThread {
public:
    using Read = bool (*)(void* reader, std::uint64_t offset, void* destination,
                          std::uint64_t count);
    using Worthwhile = bool (*)();

    // `worthwhile` (null: always) says whether a processor is free for the
    // lane; a batch is started only when it is. Once `cancel` (null: never)
    // is set, a batch stops at its next run: a cancelled preview leaves the
    // host's stream at once.
    explicit ReadAheadLane(Worthwhile worthwhile = nullptr,
                           const std::atomic<bool>* cancel = nullptr)
        : worthwhile_(worthwhile), cancel_(cancel) {}
    ~ReadAheadLane();  // waits for a batch or share under way, then for the callback to return
    ReadAheadLane(const ReadAheadLane&) = delete;
    ReadAheadLane& operator=(const ReadAheadLane&) = delete;

    // No batch starts while `worker` (null: none) runs: the two would take
    // turns on one processor, and the render would wait for the lane's
    // turn. The worker must outlive the lane's use.
    void yieldTo(const CompetingWorker* worker) { competing_ = worker; }
    // Called on the thread where a fault ended a batch or a share, right
    // after it, and on the caller's thread when a fault there ends a share's
    // wait: whatever the faulting thread held (a turn at the stream) is let
    // go. Null: nothing.
    void afterFault(void (*release)(void*), void* context) {
        release_ = release;
        releaseContext_ = context;
    }
    // Told of join()'s wait for a share (null: no one); it must outlive the lane's use.
    void observeWaits(BlockingCallObserver* observer) { observer_ = observer; }

    // Whether start() may take batches (the render then keeps a second
    // destination to read ahead into).
    bool available() const;
    // A processor fault, or an exception, ended a batch.
    bool faulted() const;
    // The cancel flag is set: no batch is to be read, here or elsewhere.
    bool cancelled() const { return cancel_ != nullptr && cancel_->load(); }
    // Starts reading `requests` by `read(reader, ...)`, a run of them that
    // follow one another in one call; the destinations must stay untouched
    // until collect(). False when it cannot: no thread to be had, no memory,
    // a fault earlier, no processor free, or the competing worker running.
    bool start(std::span<const cv::ReadRequest> requests, Read read, void* reader);
    enum class Collected { Delivered, Failed, TakenBack };
    // Waits for the batch started, or takes it back while the lane's thread
    // has not yet begun to run: the caller then reads it itself.
    Collected collect();

    // A share of the bands, on the lane's thread, under the same conditions
    // as a batch. A fault on the caller's thread while it runs stops and
    // waits for it before the caller's frames are left.
    bool mayStart() const override;
    bool start(cv::LaneWork& work) override;
    // Waits for the share, or runs it here when the lane's thread had not
    // yet begun; false after a fault on the lane's thread.
    bool join() override;

private:
    bool takeBack();
    bool ensureWorker();
    static void stopShareAfterFault(void* lane);

    Worthwhile worthwhile_;
    const std::atomic<bool>* cancel_;
    const CompetingWorker* competing_ = nullptr;
    ReadAheadShare* share_ = nullptr;  // the owner's share, or null before the first batch
    PTP_WORK work_ = nullptr;          // the serving callback, once submitted
    void (*release_)(void*) = nullptr;
    void* releaseContext_ = nullptr;
    BlockingCallObserver* observer_ = nullptr;
    cv::LaneWork* startedWork_ = nullptr;  // the share started and not yet joined
    FaultCleanup cleanup_{&ReadAheadLane::stopShareAfterFault, this};
};

}  // namespace cvwin
