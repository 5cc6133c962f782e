#include "shell/stream_adapter_win.h"

#include <algorithm>
#include <utility>

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
    IClientSecurity* security = nullptr;
    proxy_ =
        SUCCEEDED(stream->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&security)));
    if (security != nullptr) security->Release();
    stream->AddRef();
    stream_ = stream;
    size_ = stat.cbSize.QuadPart;
    return true;
}

void StreamAdapter::detach() {
    // A lane still set was left by a caller the host jumped out of: forgotten untouched.
    ahead_.fill(AheadBatch{});
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
    if (lane == nullptr) settleEveryBatch();
    ahead_.fill(AheadBatch{});
    lane_ = lane;
}

bool StreamAdapter::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    // The batches read ahead are waited for: the stream has one seek pointer.
    settleEveryBatch();
    if (observer_ == nullptr) return readChecked(offset, destination, count);
    observer_->beforeBlockingCall();
    const bool delivered = readChecked(offset, destination, count);
    observer_->afterBlockingCall();
    return delivered;
}

bool StreamAdapter::readsAhead() const {
    return lane_ != nullptr && !proxy_ && lane_->available();
}

cv::AheadTicket StreamAdapter::readAhead(std::span<const cv::ReadRequest> requests) {
    AheadBatch* batch = findAhead(cv::kNoTicket);
    if (!readsAhead() || stream_ == nullptr || batch == nullptr) return cv::kNoTicket;
    const ReadAheadLane::Ticket laneTicket =
        lane_->start(requests, &StreamAdapter::readOnLane, this);
    if (laneTicket == ReadAheadLane::kNoTicket) return cv::kNoTicket;
    *batch = {++lastTicket_, laneTicket, ReadAheadLane::Collected::Failed, requests};
    return batch->ticket;
}

StreamAdapter::AheadBatch* StreamAdapter::findAhead(cv::AheadTicket ticket) {
    for (AheadBatch& batch : ahead_) {
        if (batch.ticket == ticket) return &batch;
    }
    return nullptr;
}

// Waits for the lane to give the batch back, as a call to the stream for the observer.
void StreamAdapter::settle(AheadBatch& batch) {
    const ReadAheadLane::Ticket laneTicket = std::exchange(batch.laneTicket, 0);
    if (laneTicket == ReadAheadLane::kNoTicket || lane_ == nullptr) return;
    if (observer_ != nullptr) observer_->beforeBlockingCall();
    batch.outcome = lane_->collect(laneTicket);
    if (observer_ != nullptr) observer_->afterBlockingCall();
    if (lane_->faulted()) poisoned_ = true;
}

void StreamAdapter::settleEveryBatch() {
    for (AheadBatch& batch : ahead_) settle(batch);
}

bool StreamAdapter::collectAhead(cv::AheadTicket ticket) {
    AheadBatch* batch = ticket == cv::kNoTicket ? nullptr : findAhead(ticket);
    if (batch == nullptr) return false;
    settle(*batch);
    const AheadBatch collected = std::exchange(*batch, AheadBatch{});
    if (collected.outcome == ReadAheadLane::Collected::Delivered) return true;
    if (poisoned_ || (lane_ != nullptr && lane_->cancelled())) return false;
    // Taken back, or refused on the lane's thread (a stream whose calls belong to one thread): read
    // here, and after a refusal only here from now on, once the lane has given back the others.
    if (collected.outcome == ReadAheadLane::Collected::Failed) {
        settleEveryBatch();
        lane_ = nullptr;
    }
    const std::size_t delivered = cv::readInRuns(
        collected.requests, [this](std::uint64_t offset, void* to, std::uint64_t count) {
            return read(offset, to, count);
        });
    return delivered == collected.requests.size();
}

void StreamAdapter::dropAhead(cv::AheadTicket ticket) {
    AheadBatch* batch = ticket == cv::kNoTicket ? nullptr : findAhead(ticket);
    if (batch == nullptr) return;
    settle(*batch);
    *batch = AheadBatch{};
}

bool StreamAdapter::readOnLane(void* adapter, std::uint64_t offset, void* destination,
                               std::uint64_t count) {
    return static_cast<StreamAdapter*>(adapter)->readChecked(offset, destination, count);
}

bool StreamAdapter::readChecked(std::uint64_t offset, void* destination, std::uint64_t count) {
    if (stream_ == nullptr || destination == nullptr || poisoned_) return false;
    if (count == 0) return true;
    if (count > size_ || offset > size_ - count) return false;
    return readStream(offset, static_cast<unsigned char*>(destination), count);
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
