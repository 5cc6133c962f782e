#include "core/read_ring.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <limits>

namespace cv {

namespace {

constexpr unsigned kRingDepth = 32;  // requests in flight per submission

}  // namespace

std::unique_ptr<ReadRing> ReadRing::create() {
    io_uring ring{};
    if (io_uring_queue_init(kRingDepth, &ring, 0) != 0) return nullptr;
    std::unique_ptr<ReadRing> owner(new ReadRing());
    owner->ring_ = ring;
    return owner;
}

ReadRing::~ReadRing() {
    if (!broken_) io_uring_queue_exit(&ring_);
}

bool ReadRing::readAll(int descriptor, std::span<const ReadRequest> requests, Reader& plain) {
    bool delivered[kRingDepth];
    while (!requests.empty()) {
        const auto chunk = requests.first(std::min<std::size_t>(kRingDepth, requests.size()));
        std::fill(delivered, delivered + chunk.size(), false);
        if (!broken_) submitAndWait(descriptor, chunk, delivered);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            const ReadRequest& request = chunk[i];
            if (!delivered[i] && !plain.read(request.offset, request.destination, request.count))
                return false;
        }
        requests = requests.subspan(chunk.size());
    }
    return true;
}

// Queues one read per request and waits until the kernel has finished every
// one it took: their buffers are the caller's, so none may still be in flight
// on return. Entries it did not take would go out with a later submission,
// into buffers no longer ours, so the ring is then given up.
void ReadRing::submitAndWait(int descriptor, std::span<const ReadRequest> requests,
                             bool* delivered) {
    unsigned queued = 0;
    for (const ReadRequest& request : requests) {
        if (request.count > std::numeric_limits<unsigned>::max()) break;
        io_uring_sqe* entry = io_uring_get_sqe(&ring_);
        if (entry == nullptr) break;
        io_uring_prep_read(entry, descriptor, request.destination,
                           static_cast<unsigned>(request.count), request.offset);
        io_uring_sqe_set_data64(entry, queued);
        ++queued;
    }
    int submitted = io_uring_submit_and_wait(&ring_, queued);
    if (submitted == -EINTR) submitted = io_uring_submit(&ring_);
    const unsigned taken = submitted > 0 ? static_cast<unsigned>(submitted) : 0;
    for (unsigned reaped = 0; reaped < taken;) {
        io_uring_cqe* completion = nullptr;
        const int waited = io_uring_wait_cqe(&ring_, &completion);
        if (waited == -EINTR || waited == -EAGAIN) continue;
        if (waited < 0) std::terminate();  // the kernel may still write into the caller's buffers
        const std::uint64_t index = io_uring_cqe_get_data64(completion);
        if (index < queued) {
            delivered[index] = completion->res >= 0 &&
                               static_cast<std::uint64_t>(completion->res) == requests[index].count;
        }
        io_uring_cqe_seen(&ring_, completion);
        ++reaped;
    }
    if (taken < queued) {
        io_uring_queue_exit(&ring_);
        broken_ = true;
    }
}

}  // namespace cv
