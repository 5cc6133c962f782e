#include "shell/read_ahead_lane_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

namespace {

constexpr int kWaitLimitMs = 5000;

// Serves its offset as every byte. The first read waits until it is let go,
// so the test can post a second batch behind it, then raises an access
// violation when asked to.
struct HeldSource {
    std::atomic<bool> firstBegun{false};
    std::atomic<bool> letGo{false};
    bool fault = false;
    int reads = 0;
};

bool readHeld(void* context, std::uint64_t offset, void* destination, std::uint64_t count) {
    auto& source = *static_cast<HeldSource*>(context);
    if (source.reads++ == 0) {
        source.firstBegun.store(true);
        for (int waited = 0; !source.letGo.load() && waited < kWaitLimitMs; ++waited) Sleep(1);
        if (source.fault) RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
    }
    std::memset(destination, static_cast<int>(offset), static_cast<std::size_t>(count));
    return true;
}

// Two batches wait their turn and may be collected in either order, and a
// third takes the first's place once it is collected; a fault in the first
// fails the second, which the lane never reads, and no batch starts after
// it. The lane goes with a batch still under way.
TEST(ReadAheadLane, QueuesTwoBatchesAndAFaultFailsTheOneBehindIt) {
    using Collected = cvwin::ReadAheadLane::Collected;
    for (const bool fault : {false, true}) {
        HeldSource source{.fault = fault};
        std::uint8_t first = 0;
        std::uint8_t second = 0;
        const cv::ReadRequest requests[] = {{8, &first, 1}, {40, &second, 1}};
        cvwin::ReadAheadLane lane;
        const auto firstTicket = lane.start({&requests[0], 1}, readHeld, &source);
        for (int waited = 0; !source.firstBegun.load() && waited < kWaitLimitMs; ++waited) Sleep(1);
        const auto secondTicket = lane.start({&requests[1], 1}, readHeld, &source);
        EXPECT_EQ(lane.start({&requests[1], 1}, readHeld, &source), 0u) << "two at most";
        source.letGo.store(true);
        const Collected expected = fault ? Collected::Failed : Collected::Delivered;
        EXPECT_EQ(lane.collect(secondTicket), expected);
        EXPECT_EQ(lane.collect(firstTicket), expected);
        EXPECT_EQ(lane.collect(firstTicket), Collected::Failed) << "collected already";
        EXPECT_EQ(lane.faulted(), fault);
        EXPECT_EQ(source.reads, fault ? 1 : 2);
        EXPECT_EQ(first + second, fault ? 0 : 8 + 40);
        EXPECT_EQ(lane.start({&requests[0], 1}, readHeld, &source) != 0, !fault);
    }
}

}  // namespace
