#include "shell/read_ahead_lane_win.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>

namespace {

constexpr int kWaitLimitMs = 5000;

// Bytes served to the lane from memory. The first read waits until it is
// let go, so the test can post a second batch behind it; with `fault` it
// then raises an access violation.
struct HeldSource {
    std::array<std::uint8_t, 64> bytes{};
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
    std::memcpy(destination, source.bytes.data() + offset, static_cast<std::size_t>(count));
    return true;
}

bool waitForFirstRead(const HeldSource& source) {
    for (int waited = 0; !source.firstBegun.load() && waited < kWaitLimitMs; ++waited) Sleep(1);
    return source.firstBegun.load();
}

// Two batches wait their turn behind each other and may be collected in
// either order, and a third takes the first's place once it is collected; a
// fault in the first fails the second too, which the lane never reads, and
// no batch starts after it. The lane goes with a batch still under way.
TEST(ReadAheadLane, QueuesTwoBatchesAndAFaultFailsTheOneBehindIt) {
    for (const bool fault : {false, true}) {
        HeldSource source;
        for (std::size_t i = 0; i < source.bytes.size(); ++i)
            source.bytes[i] = static_cast<std::uint8_t>(i * 3);
        std::array<std::uint8_t, 16> first{};
        std::array<std::uint8_t, 16> second{};
        const cv::ReadRequest firstRequest{8, first.data(), first.size()};
        const cv::ReadRequest secondRequest{40, second.data(), second.size()};
        cvwin::ReadAheadLane lane;
        source.fault = fault;
        const auto firstTicket = lane.start({&firstRequest, 1}, readHeld, &source);
        ASSERT_NE(firstTicket, 0u);
        ASSERT_TRUE(waitForFirstRead(source)) << "the lane's thread began";
        const auto secondTicket = lane.start({&secondRequest, 1}, readHeld, &source);
        ASSERT_NE(secondTicket, 0u);
        EXPECT_EQ(lane.start({&secondRequest, 1}, readHeld, &source), 0u) << "two at most";
        source.letGo.store(true);
        using Collected = cvwin::ReadAheadLane::Collected;
        const Collected expected = fault ? Collected::Failed : Collected::Delivered;
        EXPECT_EQ(lane.collect(secondTicket), expected);
        EXPECT_EQ(lane.collect(firstTicket), expected);
        EXPECT_EQ(lane.faulted(), fault);
        if (fault) {
            EXPECT_EQ(source.reads, 1) << "nothing read after the fault";
            EXPECT_EQ(lane.start({&firstRequest, 1}, readHeld, &source), 0u);
        } else {
            EXPECT_EQ(std::memcmp(first.data(), source.bytes.data() + 8, first.size()), 0);
            EXPECT_EQ(std::memcmp(second.data(), source.bytes.data() + 40, second.size()), 0);
            EXPECT_EQ(lane.collect(firstTicket), Collected::Failed) << "collected already";
            EXPECT_NE(lane.start({&firstRequest, 1}, readHeld, &source), 0u);
        }
    }
}

}  // namespace
