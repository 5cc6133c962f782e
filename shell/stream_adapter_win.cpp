#include "shell/stream_adapter_win.h"

#include <algorithm>
#include <optional>

#include "shell/brief_spin_win.h"
#include "shell/fault_guard_win.h"

namespace cvwin {

namespace {

constexpr std::uint64_t kMaxBytesPerRead = 0x10000000;  // keeps each count within a ULONG

// From a seek to the end where the stream allows it: a file stream's Stat
// asks for all of the file's information, which under Wine took a hundred
// times as long (0.5 ms, against 5 microseconds). The first read seeks to
// its own place.
std::optional<std::uint64_t> streamSize(IStream* stream) {
    ULARGE_INTEGER end{};
    // An end at 0 may be a stream that leaves the position unset: Stat tells.
    if (SUCCEEDED(stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_END, &end)) && end.QuadPart != 0)
        return end.QuadPart;
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return std::nullopt;
    return stat.cbSize.QuadPart;
}

bool takeFreeTurn(SRWLOCK& turn, const std::atomic<DWORD>& holder) {
    return holder.load(std::memory_order_relaxed) == 0 && TryAcquireSRWLockExclusive(&turn);
}

void takeTurn(SRWLOCK& turn, const std::atomic<DWORD>& holder) {
    if (!spinBriefly([&] { return takeFreeTurn(turn, holder); })) AcquireSRWLockExclusive(&turn);
}

}  // namespace

// Reads through the adapter's stream, in turns with it.
class StreamAdapterTwin final : public cv::Reader {
public:
    explicit StreamAdapterTwin(StreamAdapter& adapter) : adapter_(adapter) { ++adapter_.twins_; }
    ~StreamAdapterTwin() override { --adapter_.twins_; }
    StreamAdapterTwin(const StreamAdapterTwin&) = delete;
    StreamAdapterTwin& operator=(const StreamAdapterTwin&) = delete;

    std::uint64_t size() const override { return adapter_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        return adapter_.readChecked(offset, destination, count, true);
    }

private:
    StreamAdapter& adapter_;
};

StreamAdapter::~StreamAdapter() {
    detach();
}

bool StreamAdapter::attach(IStream* stream) {
    detach();
    if (stream == nullptr) return false;
    const ForeignCall call;
    const std::optional<std::uint64_t> size = streamSize(stream);
    if (!size) return false;
    IClientSecurity* security = nullptr;
    proxy_ =
        SUCCEEDED(stream->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&security)));
    if (security != nullptr) security->Release();
    stream->AddRef();
    stream_ = stream;
    size_ = *size;
    return true;
}

void StreamAdapter::detach() {
    readingAhead_ = false;
    lane_ = nullptr;
    const ForeignCall call;
    // After a fault in its code the stream may hold its own locks: it is left alone, not released.
    if (stream_ != nullptr && !poisoned_) stream_->Release();
    stream_ = nullptr;
    size_ = 0;
    position_.reset();
    poisoned_ = false;
}

void StreamAdapter::readAheadThrough(ReadAheadLane* lane) {
    if (lane == nullptr) dropAhead();
    readingAhead_ = false;
    lane_ = lane;
    if (lane == nullptr) return;
    lane->afterFault(&StreamAdapter::releaseTurnAfterFault, this);
    lane->observeWaits(observer_);
}

std::unique_ptr<cv::Reader> StreamAdapter::twin() {
    // Only beside a lane, whose thread is under a fault guard and holds the library.
    if (stream_ == nullptr || lane_ == nullptr || proxy_ || poisoned_ || readingAhead_)
        return nullptr;
    return std::make_unique<StreamAdapterTwin>(*this);
}

// A thread that faulted during its turn never ends it: its fault handling lets
// the turn go, and the stream, whose state is unknown, is not called again.
void StreamAdapter::releaseTurnAfterFault(void* context) {
    auto& adapter = *static_cast<StreamAdapter*>(context);
    if (adapter.turnHolder_.load() != GetCurrentThreadId()) return;
    adapter.poisoned_ = true;
    adapter.turnHolder_.store(0);
    ReleaseSRWLockExclusive(&adapter.turn_);
}

bool StreamAdapter::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    // A batch read ahead and not asked for is waited for: the stream has one seek pointer.
    dropAhead();
    // Only while a twin lives does another thread read: a turn is taken then.
    const bool inTurns = twins_ > 0;
    if (observer_ == nullptr) return readChecked(offset, destination, count, inTurns);
    observer_->beforeBlockingCall();
    const bool delivered = readChecked(offset, destination, count, inTurns);
    observer_->afterBlockingCall();
    return delivered;
}

bool StreamAdapter::readsAhead() const {
    return lane_ != nullptr && !proxy_ && twins_ == 0 && lane_->available();
}

bool StreamAdapter::readAhead(std::span<const cv::ReadRequest> requests) {
    if (!readsAhead() || readingAhead_ || stream_ == nullptr) return false;
    readingAhead_ = lane_->start(requests, &StreamAdapter::readOnLane, this);
    if (readingAhead_) aheadRequests_ = requests;
    return readingAhead_;
}

// The wait for the lane's batch, as a call to the stream for the observer.
ReadAheadLane::Collected StreamAdapter::waitForLane() {
    readingAhead_ = false;
    if (observer_ != nullptr) observer_->beforeBlockingCall();
    const ReadAheadLane::Collected collected = lane_->collect();
    if (observer_ != nullptr) observer_->afterBlockingCall();
    if (lane_->faulted()) poisoned_ = true;
    return collected;
}

bool StreamAdapter::collectAhead() {
    if (!readingAhead_) return false;
    const ReadAheadLane::Collected collected = waitForLane();
    if (collected == ReadAheadLane::Collected::Delivered) return true;
    if (poisoned_ || lane_->cancelled()) return false;
    // Taken back, or refused on the lane's thread (a stream whose calls belong to one thread): read
    // here, and from now on only here.
    if (collected == ReadAheadLane::Collected::Failed) lane_ = nullptr;
    const std::size_t delivered =
        cv::readInRuns(aheadRequests_, [this](std::uint64_t offset, void* to, std::uint64_t count) {
            return read(offset, to, count);
        });
    return delivered == aheadRequests_.size();
}

void StreamAdapter::dropAhead() {
    if (readingAhead_) static_cast<void>(waitForLane());
}

bool StreamAdapter::readOnLane(void* adapter, std::uint64_t offset, void* destination,
                               std::uint64_t count) {
    return static_cast<StreamAdapter*>(adapter)->readChecked(offset, destination, count, false);
}

bool StreamAdapter::readChecked(std::uint64_t offset, void* destination, std::uint64_t count,
                                bool inTurns) {
    if (stream_ == nullptr || destination == nullptr || poisoned_) return false;
    if (count == 0) return true;
    if (count > size_ || offset > size_ - count) return false;
    auto* out = static_cast<unsigned char*>(destination);
    return inTurns ? readInTurn(offset, out, count) : readStream(offset, out, count);
}

namespace {

// Ends a thread's turn at the stream when it leaves the read, unless a fault
// in the stream let the turn go already; a turn left by an exception leaves
// the stream's state unknown.
class TurnEnd {
public:
    TurnEnd(std::atomic<DWORD>& holder, SRWLOCK& turn, std::atomic<bool>& poisoned)
        : holder_(holder), turn_(turn), poisoned_(poisoned), self_(GetCurrentThreadId()) {
        holder_.store(self_);
    }
    ~TurnEnd() {
        if (holder_.load() != self_) return;
        if (!completed_) poisoned_ = true;
        holder_.store(0);
        ReleaseSRWLockExclusive(&turn_);
    }
    TurnEnd(const TurnEnd&) = delete;
    TurnEnd& operator=(const TurnEnd&) = delete;

    bool stillHeld() const { return holder_.load() == self_; }
    void complete() { completed_ = true; }

private:
    std::atomic<DWORD>& holder_;
    SRWLOCK& turn_;
    std::atomic<bool>& poisoned_;
    DWORD self_;
    bool completed_ = false;
};

}  // namespace

bool StreamAdapter::readInTurn(std::uint64_t offset, unsigned char* out, std::uint64_t count) {
    takeTurn(turn_, turnHolder_);
    TurnEnd end(turnHolder_, turn_, poisoned_);
    // The turn may have been let go by a thread that faulted in the stream meanwhile.
    const bool delivered = !poisoned_ && readStream(offset, out, count);
    end.complete();
    // A fault in the stream, which its host then handled, let this turn go already.
    return end.stillHeld() && delivered;
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
