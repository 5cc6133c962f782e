#include "shell/read_ahead_lane_win.h"

#include <atomic>
#include <new>
#include <vector>

#include "shell/brief_spin_win.h"
#include "shell/fault_guard_win.h"
#include "shell/own_module_win.h"
#include "shell/srw_lock_win.h"

namespace cvwin {

namespace {

enum class LaneState { Idle, Asked, Reading, Done, Quitting };

}  // namespace

// Shared by the owner and the callback; the last to let go frees it.
struct ReadAheadShare {
    std::atomic<int> shares{2};
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::atomic<LaneState> state{LaneState::Idle};  // changed under the lock
    int sleepers = 0;                               // under the lock
    std::vector<cv::ReadRequest> requests;
    ReadAheadLane::Read read = nullptr;
    void* reader = nullptr;
    const std::atomic<bool>* cancel = nullptr;  // asked between runs; null: never
    cv::LaneWork* work = nullptr;               // a share of the bands asked for instead of a batch
    void (*release)(void*) = nullptr;           // after a fault, on the faulting thread
    void* releaseContext = nullptr;
    bool delivered = false;
    std::atomic<bool> faulted{false};  // the thread's reading raised a processor fault or threw
    std::atomic<bool> begun{false};    // the callback runs: the pool gave it a thread
    HMODULE module = nullptr;          // the thread's reference to this library
};

namespace {

void letGo(ReadAheadShare* share) {
    if (share->shares.fetch_sub(1, std::memory_order_acq_rel) == 1) delete share;
}

// Waits until `ready(state)`, spinning first, then asleep.
template <typename Ready>
LaneState waitUntil(ReadAheadShare& share, Ready ready) {
    LaneState state = LaneState::Idle;
    if (spinBriefly([&] { return ready(state = share.state.load(std::memory_order_acquire)); }))
        return state;
    const ExclusiveLock locked(share.lock);
    ++share.sleepers;
    while (!ready(share.state.load(std::memory_order_acquire)))
        SleepConditionVariableSRW(&share.changed, &share.lock, INFINITE, 0);
    --share.sleepers;
    return share.state.load(std::memory_order_acquire);
}

// Until the batch asked for is read, or was taken back.
LaneState waitForBatch(ReadAheadShare& share) {
    return waitUntil(share, [](LaneState state) {
        return state != LaneState::Asked && state != LaneState::Reading;
    });
}

// Wakes a sleeper only: a spinning one sees the change by itself.
void setState(ReadAheadShare& share, LaneState state) {
    bool sleeping = false;
    {
        const ExclusiveLock locked(share.lock);
        share.state.store(state, std::memory_order_release);
        sleeping = share.sleepers > 0;
    }
    if (sleeping) WakeAllConditionVariable(&share.changed);
}

HRESULT readBatch(void* context) {
    auto& share = *static_cast<ReadAheadShare*>(context);
    const std::size_t delivered =
        cv::readInRuns(share.requests, [&](std::uint64_t offset, void* to, std::uint64_t count) {
            return (share.cancel == nullptr || !share.cancel->load()) &&
                   share.read(share.reader, offset, to, count);
        });
    return delivered == share.requests.size() ? S_OK : S_FALSE;
}

HRESULT runShare(void* context) {
    static_cast<ReadAheadShare*>(context)->work->run();
    return S_OK;
}

void CALLBACK serveBatches(PTP_CALLBACK_INSTANCE instance, void* context, PTP_WORK) {
    auto* share = static_cast<ReadAheadShare*>(context);
    share->begun.store(true, std::memory_order_release);
    for (;;) {
        const LaneState asked = waitUntil(*share, [](LaneState state) {
            return state == LaneState::Asked || state == LaneState::Quitting;
        });
        if (asked == LaneState::Quitting) break;
        // The owner may have taken the batch back meanwhile.
        LaneState expected = LaneState::Asked;
        if (!share->state.compare_exchange_strong(expected, LaneState::Reading,
                                                  std::memory_order_acq_rel))
            continue;
        // The guard reports a fault (or an exception) as E_FAIL, which the work never returns.
        cv::LaneWork* work = share->work;
        const HRESULT result = runGuardedOnOwnThread(work != nullptr ? runShare : readBatch, share);
        share->delivered = result == S_OK;
        share->faulted.store(result == E_FAIL);
        if (result == E_FAIL) {
            if (share->release != nullptr) share->release(share->releaseContext);
            // The caller's share stops too: the render has failed.
            if (work != nullptr) work->stop();
        }
        setState(*share, LaneState::Done);
        if (result == E_FAIL) break;
    }
    const HMODULE module = share->module;
    letGo(share);
    FreeLibraryWhenCallbackReturns(instance, module);
}

}  // namespace

ReadAheadLane::~ReadAheadLane() {
    if (share_ == nullptr) return;
    if (work_ != nullptr) {
        if (!takeBack()) waitForBatch(*share_);
        if (!share_->faulted) setState(*share_, LaneState::Quitting);
        WaitForThreadpoolWorkCallbacks(work_, FALSE);
        CloseThreadpoolWork(work_);
    }
    letGo(share_);
}

bool ReadAheadLane::faulted() const {
    return share_ != nullptr && share_->faulted.load();
}

bool ReadAheadLane::available() const {
    if (share_ != nullptr && (work_ == nullptr || share_->faulted)) return false;
    return worthwhile_ == nullptr || worthwhile_();
}

bool ReadAheadLane::start(std::span<const cv::ReadRequest> requests, Read read, void* reader) {
    if (!available() || (competing_ != nullptr && competing_->running()) || !ensureWorker())
        return false;
    ReadAheadShare& share = *share_;
    try {
        share.requests.assign(requests.begin(), requests.end());
    } catch (const std::bad_alloc&) {
        return false;
    }
    share.read = read;
    share.reader = reader;
    share.cancel = cancel_;
    share.work = nullptr;
    share.release = release_;
    share.releaseContext = releaseContext_;
    setState(share, LaneState::Asked);
    return true;
}

bool ReadAheadLane::mayStart() const {
    return startedWork_ == nullptr && available() &&
           (competing_ == nullptr || !competing_->running());
}

bool ReadAheadLane::start(cv::LaneWork& work) {
    if (!mayStart() || !ensureWorker()) return false;
    ReadAheadShare& share = *share_;
    share.work = &work;
    share.release = release_;
    share.releaseContext = releaseContext_;
    startedWork_ = &work;
    cleanup_.enlist();
    setState(share, LaneState::Asked);
    return true;
}

bool ReadAheadLane::join() {
    cv::LaneWork* work = startedWork_;
    // None, or stopped and waited for at a fault on this thread that the host then handled.
    if (work == nullptr) return !faulted();
    ReadAheadShare& share = *share_;
    if (takeBack()) {
        startedWork_ = nullptr;
        cleanup_.withdraw();
        share.work = nullptr;
        work->run();
        return true;
    }
    // Enlisted until the share is done: a fault meanwhile must still wait for it.
    if (observer_ != nullptr) observer_->beforeBlockingCall();
    waitForBatch(share);
    if (observer_ != nullptr) observer_->afterBlockingCall();
    startedWork_ = nullptr;
    cleanup_.withdraw();
    share.work = nullptr;
    if (share.faulted) return false;
    setState(share, LaneState::Idle);
    return true;
}

// At a fault on the caller's thread, whose frames the share still uses: it
// is stopped and waited for before the guard jumps back past them.
void ReadAheadLane::stopShareAfterFault(void* context) {
    auto& lane = *static_cast<ReadAheadLane*>(context);
    if (lane.release_ != nullptr) lane.release_(lane.releaseContext_);
    cv::LaneWork* work = lane.startedWork_;
    if (work == nullptr) return;
    lane.startedWork_ = nullptr;
    if (lane.takeBack()) return;
    work->stop();
    waitForBatch(*lane.share_);
    lane.share_->work = nullptr;
}

// A batch is taken back while the pool has not yet given the callback a
// thread: under Wine a new pool thread starts only milliseconds later, and
// the owner reads the batch sooner than it would wait. Once the callback
// runs, it takes each batch within microseconds.
bool ReadAheadLane::takeBack() {
    if (share_->begun.load(std::memory_order_acquire)) return false;
    LaneState expected = LaneState::Asked;
    return share_->state.compare_exchange_strong(expected, LaneState::Idle,
                                                 std::memory_order_acq_rel);
}

ReadAheadLane::Collected ReadAheadLane::collect() {
    if (share_ == nullptr) return Collected::Failed;
    ReadAheadShare& share = *share_;
    if (takeBack()) return Collected::TakenBack;
    if (waitForBatch(share) != LaneState::Done) return Collected::Failed;
    setState(share, LaneState::Idle);
    return share.delivered ? Collected::Delivered : Collected::Failed;
}

// The pool's thread is asked for at the first batch; without one, no batch
// starts. A pool thread rather than a thread of this lane's own: under Wine
// a new thread starts running only milliseconds after it is made.
bool ReadAheadLane::ensureWorker() {
    if (share_ != nullptr) return work_ != nullptr;
    share_ = new (std::nothrow) ReadAheadShare;
    if (share_ == nullptr) return false;
    share_->module = referenceOwnModule();
    // Without its own reference the callback could return into an unloaded library.
    if (share_->module != nullptr) work_ = CreateThreadpoolWork(serveBatches, share_, nullptr);
    if (work_ == nullptr) {
        if (share_->module != nullptr) FreeLibrary(share_->module);
        share_->shares.store(1);  // no callback to let go of its share
        return false;
    }
    SubmitThreadpoolWork(work_);
    return true;
}

}  // namespace cvwin
