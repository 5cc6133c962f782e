#include "shell/read_ahead_lane_win.h"

#include <gtest/gtest.h>

#include <atomic>

#include "shell/fault_guard_win.h"
#include "windows/faulting_stream.h"

namespace {

// A share that runs until stopped, then records that it returned; with
// `fault`, it faults first, on the lane's thread.
class ShareUntilStopped final : public cv::LaneWork {
public:
    explicit ShareUntilStopped(bool fault) : fault_(fault) {}
    void run() noexcept override {
        begun = true;
        if (fault_) {
            volatile int* nowhere = nullptr;
            *nowhere = 1;  // a deliberate access violation
        }
        while (!stopped_) YieldProcessor();
        returned = true;
    }
    void stop() noexcept override { stopped_ = true; }
    std::atomic<bool> begun{false};
    std::atomic<bool> returned{false};

private:
    bool fault_;
    std::atomic<bool> stopped_{false};
};

struct FaultWhileSharing {
    cvwin::ReadAheadLane* lane;
    ShareUntilStopped* share;
    bool inForeignCall;  // raised by the host's own code, which its handler takes
};

std::atomic<bool> gShareReturnedWhenTheHostSawItsFault{false};
std::atomic<ShareUntilStopped*> gWatchedShare{nullptr};

LONG CALLBACK hostHandler(EXCEPTION_POINTERS* exception) {
    if (!cvtest::isHostsOwnFault(exception)) return EXCEPTION_CONTINUE_SEARCH;
    gShareReturnedWhenTheHostSawItsFault = gWatchedShare.load()->returned.load();
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Starts the share, waits for the lane's thread to take it, then faults here.
HRESULT startThenFault(void* context) {
    auto& call = *static_cast<FaultWhileSharing*>(context);
    if (!call.lane->start(*call.share)) return E_UNEXPECTED;
    while (!call.share->begun) YieldProcessor();
    if (call.inForeignCall) {
        const cvwin::ForeignCall foreign;
        const ULONG_PTR marker = cvtest::kHostsOwnFault;
        RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 1, &marker);
        return S_OK;
    }
    volatile int* nowhere = nullptr;
    *nowhere = 1;  // a deliberate access violation
    return S_OK;
}

// The share runs on the caller's frames: a fault there, ours or the host's,
// stops and waits for it before the guard jumps back or the host's handler
// runs.
TEST(ReadAheadLane, AFaultOnTheCallersThreadStopsAndWaitsForTheShareFirst) {
    void* handler = AddVectoredExceptionHandler(0, hostHandler);
    for (const bool inForeignCall : {false, true}) {
        cvwin::ReadAheadLane lane;
        ShareUntilStopped share(false);
        gWatchedShare = &share;
        gShareReturnedWhenTheHostSawItsFault = false;
        FaultWhileSharing call{&lane, &share, inForeignCall};
        EXPECT_EQ(cvwin::runGuarded(startThenFault, &call), inForeignCall ? S_OK : E_FAIL);
        EXPECT_TRUE(share.returned.load());
        EXPECT_EQ(gShareReturnedWhenTheHostSawItsFault.load(), inForeignCall);
    }
    RemoveVectoredExceptionHandler(handler);
}

bool readNothing(void*, std::uint64_t, void*, std::uint64_t) {
    return true;
}

// Hands the lane batches until its thread has begun to serve them: before,
// the caller takes a share back and runs it itself.
void waitForTheLanesThread(cvwin::ReadAheadLane& lane) {
    unsigned char byte = 0;
    const cv::ReadRequest request{0, &byte, 1};
    for (int tries = 0; tries < 10000; ++tries) {
        ASSERT_TRUE(lane.start(std::span(&request, 1), readNothing, nullptr));
        if (lane.collect() == cvwin::ReadAheadLane::Collected::Delivered) return;
        Sleep(1);
    }
    FAIL() << "the lane's thread never began";
}

TEST(ReadAheadLane, AFaultInTheShareFailsItsJoinAndNothingStartsAfterIt) {
    cvwin::ReadAheadLane lane;
    ASSERT_NO_FATAL_FAILURE(waitForTheLanesThread(lane));
    ShareUntilStopped share(true);
    ASSERT_TRUE(lane.start(share));
    EXPECT_FALSE(lane.join());
    EXPECT_FALSE(share.returned.load());
    EXPECT_FALSE(lane.mayStart()) << "nothing starts after a fault";
}

}  // namespace
