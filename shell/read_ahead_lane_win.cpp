#include "shell/read_ahead_lane_win.h"

#include <atomic>
#include <new>
#include <vector>

#include "shell/fault_guard_win.h"
#include "shell/own_module_win.h"
#include "shell/srw_lock_win.h"

namespace cvwin {

namespace {

// A batch's slot: the owner fills a free one and posts it, the callback
// reads it, and the owner's collection frees it again; or the owner takes it
// back before the callback begins, and reads it itself.
enum class BatchState { Free, Posted, Read, TakenBack };

// Waking a sleeping thread costs tens of microseconds on a virtual
// machine, about what a band takes to read or add: a waiter spins about
// as long as a sleep and a wake-up take together before it sleeps, so the
// two threads hand bands over without sleeping, and the one that sleeps
// loses at most twice the least it could. Not longer: where the machine's
// processors are shared with others, a spinning thread takes time from the
// one it waits for (with 25 microseconds a Float32 frame's bands were
// handed over asleep, 12 % slower; with 100 and more, a busy machine's
// mosaics slowed).
constexpr LONGLONG kSpinMicroseconds = 60;
constexpr int kSpinsPerClockLook = 64;

}  // namespace

struct LaneBatch {
    ReadAheadLane::Ticket ticket = ReadAheadLane::kNoTicket;  // of the batch posted last
    std::vector<cv::ReadRequest> requests;
    ReadAheadLane::Read read = nullptr;
    void* reader = nullptr;
    bool delivered = false;  // of a batch read, set before its state says so
    std::atomic<BatchState> state{BatchState::Free};
};

// Shared by the owner and the callback; the last to let go frees it. What a
// waiter waits for changes under the lock, so a sleeper cannot miss it.
struct ReadAheadShare {
    std::atomic<int> shares{2};
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    int sleepers = 0;  // under the lock
    // Batch t (counted from 1) lives in batches[(t - 1) % kBatches].
    LaneBatch batches[ReadAheadLane::kBatches];
    std::atomic<std::uint64_t> posted{0};  // batches posted, by the owner alone
    // Batches the callback has claimed to read, or the owner took back: each
    // side claims a batch before it reads it, so the two never read at once.
    std::atomic<std::uint64_t> claimed{0};
    // Batches the callback has read or failed, and those the owner took back.
    std::atomic<std::uint64_t> finished{0};
    const std::atomic<bool>* cancel = nullptr;  // asked between runs; null: never
    std::atomic<bool> quitting{false};
    std::atomic<bool> faulted{false};  // the thread's reading raised a processor fault or threw
    std::atomic<bool> stopped{false};  // the callback reads nothing more: a fault ended its loop
    std::atomic<bool> begun{false};    // the callback runs: the pool gave it a thread
    HMODULE module = nullptr;          // the thread's reference to this library
};

namespace {

void letGo(ReadAheadShare* share) {
    if (share->shares.fetch_sub(1, std::memory_order_acq_rel) == 1) delete share;
}

// Waits until `ready()`, spinning first, then asleep.
template <typename Ready>
void waitUntil(ReadAheadShare& share, Ready ready) {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const LONGLONG spinEnd = now.QuadPart + frequency.QuadPart * kSpinMicroseconds / 1000000;
    for (int spin = 1;; ++spin) {
        if (ready()) return;
        YieldProcessor();
        if (spin % kSpinsPerClockLook != 0) continue;
        QueryPerformanceCounter(&now);
        if (now.QuadPart >= spinEnd) break;
    }
    const ExclusiveLock locked(share.lock);
    ++share.sleepers;
    while (!ready()) SleepConditionVariableSRW(&share.changed, &share.lock, INFINITE, 0);
    --share.sleepers;
}

// Makes `change` under the lock and wakes any sleeper: a spinning one sees
// the change by itself.
template <typename Change>
void announce(ReadAheadShare& share, Change change) {
    bool sleeping = false;
    {
        const ExclusiveLock locked(share.lock);
        change();
        sleeping = share.sleepers > 0;
    }
    if (sleeping) WakeAllConditionVariable(&share.changed);
}

// Until the callback reads nothing: every batch posted is read, or it stopped.
void waitForEveryBatch(ReadAheadShare& share) {
    waitUntil(share, [&] { return share.finished.load() == share.posted.load() || share.stopped; });
}

struct BatchCall {
    const ReadAheadShare* share;
    const LaneBatch* batch;
};

HRESULT readBatch(void* context) {
    const auto& call = *static_cast<const BatchCall*>(context);
    const std::atomic<bool>* cancel = call.share->cancel;
    const LaneBatch& batch = *call.batch;
    const std::size_t delivered =
        cv::readInRuns(batch.requests, [&](std::uint64_t offset, void* to, std::uint64_t count) {
            return (cancel == nullptr || !cancel->load()) &&
                   batch.read(batch.reader, offset, to, count);
        });
    return delivered == batch.requests.size() ? S_OK : S_FALSE;
}

void CALLBACK serveBatches(PTP_CALLBACK_INSTANCE instance, void* context, PTP_WORK) {
    auto* share = static_cast<ReadAheadShare*>(context);
    share->begun.store(true, std::memory_order_release);
    for (;;) {
        waitUntil(*share, [&] { return share->quitting || share->claimed < share->posted; });
        if (share->quitting) break;
        // The owner may have taken the batch back meanwhile.
        std::uint64_t ticket = share->claimed.load();
        if (ticket >= share->posted || !share->claimed.compare_exchange_strong(ticket, ticket + 1))
            continue;
        LaneBatch& batch = share->batches[ticket % ReadAheadLane::kBatches];
        BatchCall call{share, &batch};
        // The guard reports a fault (or an exception) as E_FAIL, which readBatch never returns.
        const HRESULT result = runGuardedOnOwnThread(readBatch, &call);
        batch.delivered = result == S_OK;
        if (result == E_FAIL) share->faulted.store(true);
        announce(*share, [&] {
            batch.state.store(BatchState::Read);
            share->finished.store(ticket + 1);
            if (result == E_FAIL) share->stopped.store(true);
        });
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
        if (!takeBack(share_->posted.load())) waitForEveryBatch(*share_);
        if (!share_->stopped) announce(*share_, [this] { share_->quitting.store(true); });
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

ReadAheadLane::Ticket ReadAheadLane::start(std::span<const cv::ReadRequest> requests, Read read,
                                           void* reader) {
    if (!available() || (competing_ != nullptr && competing_->running()) || !ensureWorker())
        return kNoTicket;
    ReadAheadShare& share = *share_;
    const Ticket ticket = share.posted.load() + 1;
    LaneBatch& batch = share.batches[(ticket - 1) % kBatches];
    if (batch.state.load() != BatchState::Free) return kNoTicket;
    try {
        batch.requests.assign(requests.begin(), requests.end());
    } catch (const std::bad_alloc&) {
        return kNoTicket;
    }
    batch.ticket = ticket;
    batch.read = read;
    batch.reader = reader;
    batch.delivered = false;
    batch.state.store(BatchState::Posted);
    announce(share, [&] { share.posted.store(ticket); });
    return ticket;
}

// Batches are taken back while the pool has not yet given the callback a
// thread: under Wine a new pool thread starts only milliseconds later, and
// the owner reads them sooner than it would wait. Every batch not yet read
// is taken back with `ticket`'s, so the callback, claiming none of them,
// leaves the stream to the owner. Once the callback runs, it takes each
// batch within microseconds.
bool ReadAheadLane::takeBack(Ticket ticket) {
    ReadAheadShare& share = *share_;
    if (share.begun.load(std::memory_order_acquire)) return false;
    std::uint64_t from = share.finished.load();
    const std::uint64_t to = share.posted.load();
    if (ticket <= from || !share.claimed.compare_exchange_strong(from, to)) return false;
    for (std::uint64_t t = from; t < to; ++t)
        share.batches[t % kBatches].state.store(BatchState::TakenBack);
    // Counted as finished, for the callback is past them; it claims no batch meanwhile, as this
    // thread posts none.
    share.finished.store(to);
    return true;
}

ReadAheadLane::Collected ReadAheadLane::collect(Ticket ticket) {
    if (share_ == nullptr || ticket == kNoTicket) return Collected::Failed;
    ReadAheadShare& share = *share_;
    LaneBatch& batch = share.batches[(ticket - 1) % kBatches];
    // A ticket collected already, or another's, would wait for ever or free a batch being read.
    if (batch.ticket != ticket || batch.state.load() == BatchState::Free) return Collected::Failed;
    if (!takeBack(ticket)) {
        waitUntil(share, [&] {
            const BatchState state = batch.state.load();
            return state == BatchState::Read || state == BatchState::TakenBack || share.stopped;
        });
    }
    const BatchState state = batch.state.load();
    const Collected collected = state == BatchState::TakenBack ? Collected::TakenBack
                                : state == BatchState::Read && batch.delivered
                                    ? Collected::Delivered
                                    : Collected::Failed;
    batch.state.store(BatchState::Free);
    return collected;
}

// The pool's thread is asked for at the first batch; without one, no batch
// starts. A pool thread rather than a thread of this lane's own: under Wine
// a new thread starts running only milliseconds after it is made.
bool ReadAheadLane::ensureWorker() {
    if (share_ != nullptr) return work_ != nullptr;
    share_ = new (std::nothrow) ReadAheadShare;
    if (share_ == nullptr) return false;
    share_->module = referenceOwnModule();
    share_->cancel = cancel_;
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
