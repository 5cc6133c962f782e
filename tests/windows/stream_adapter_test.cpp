#include "shell/stream_adapter_win.h"
#include "windows/read_only_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// An IStream over memory that delivers at most `chunk` bytes per Read, can
// deliver nothing, can claim more than it delivered, can fail Stat, and
// seeks from the start only unless told to seek to the end as well.
class TestStream final : public cvtest::ReadOnlyStream {
public:
    TestStream(std::size_t size, ULONG chunk) : bytes_(size), chunk_(chunk) {
        std::iota(bytes_.begin(), bytes_.end(), static_cast<unsigned char>(0));
    }
    bool failStat = false;
    bool seeksToEnd = false;
    bool deliverNothing = false;
    ULONG overReport = 0;  // added to the count each Read reports
    LONG references = 1;
    int seeks = 0;

    IFACEMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references); }
    IFACEMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--references); }
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        const std::size_t left = bytes_.size() - std::min<std::size_t>(position_, bytes_.size());
        const auto n =
            deliverNothing ? 0 : static_cast<ULONG>(std::min<std::size_t>({count, chunk_, left}));
        std::copy_n(bytes_.data() + position_, n, static_cast<unsigned char*>(out));
        position_ += n;
        if (got != nullptr) *got = n + overReport;
        return S_OK;
    }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        if (origin == STREAM_SEEK_END && seeksToEnd && move.QuadPart == 0) {
            position_ = bytes_.size();
            if (position != nullptr) position->QuadPart = position_;
            return S_OK;
        }
        if (origin != STREAM_SEEK_SET) return E_INVALIDARG;
        ++seeks;
        position_ = static_cast<std::size_t>(move.QuadPart);
        return S_OK;
    }
    IFACEMETHODIMP Stat(STATSTG* stat, DWORD) override {
        if (failStat) return E_FAIL;
        *stat = STATSTG{};
        stat->cbSize.QuadPart = bytes_.size();
        return S_OK;
    }

private:
    std::vector<unsigned char> bytes_;
    ULONG chunk_;
    std::size_t position_ = 0;
};

TEST(StreamAdapter, FillsRequestsFromShortReads) {
    TestStream stream(20000, 1000);
    cvwin::StreamAdapter adapter;
    ASSERT_TRUE(adapter.attach(&stream));
    EXPECT_EQ(adapter.size(), 20000u);
    std::vector<unsigned char> out(10000);
    ASSERT_TRUE(adapter.read(5000, out.data(), out.size()));
    EXPECT_EQ(out[0], static_cast<unsigned char>(5000 % 256));
    EXPECT_EQ(out.back(), static_cast<unsigned char>(14999 % 256));
    EXPECT_TRUE(adapter.read(19999, out.data(), 1));
    EXPECT_FALSE(adapter.read(20000, out.data(), 1));
    EXPECT_TRUE(adapter.read(90000, out.data(), 0)) << "a zero count looks at nothing";
    EXPECT_FALSE(adapter.read(~0ull, out.data(), 2)) << "a wrapping range";
}

TEST(StreamAdapter, AReadDeliveringNothingOrClaimingTooMuchFails) {
    TestStream nothing(100, 10);
    nothing.deliverNothing = true;
    TestStream boastful(100, 4);
    boastful.overReport = 7;  // 11 claimed of the 4 delivered: the count left would wrap
    for (TestStream* stream : {&nothing, &boastful}) {
        cvwin::StreamAdapter adapter;
        ASSERT_TRUE(adapter.attach(stream));
        unsigned char out[10];
        EXPECT_FALSE(adapter.read(0, out, 10));
    }
}

TEST(StreamAdapter, InSoleUseSeeksOnlyWhereTheLastReadDidNotEnd) {
    TestStream stream(1000, 64);
    cvwin::StreamAdapter adapter;
    ASSERT_TRUE(adapter.attach(&stream));
    adapter.assumeSoleUse(true);
    std::vector<unsigned char> out(100);
    struct Step {
        std::uint64_t offset, count;
        bool delivered;
        int seeksAfter;
    };
    const Step steps[] = {
        {0, 100, true, 1},   {100, 100, true, 1},  // a read that continues the last one
        {300, 100, true, 2}, {350, 50, true, 3},   // a gap, then backwards
        {400, 10, false, 3}, {410, 10, true, 4},   // after a failure the pointer is unknown
    };
    for (const Step& step : steps) {
        stream.deliverNothing = !step.delivered;
        EXPECT_EQ(adapter.read(step.offset, out.data(), step.count), step.delivered) << step.offset;
        EXPECT_EQ(stream.seeks, step.seeksAfter) << step.offset;
        EXPECT_TRUE(!step.delivered || out[0] == step.offset % 256) << step.offset;
    }
    ASSERT_TRUE(adapter.attach(&stream));
    ASSERT_TRUE(adapter.read(420, out.data(), 10));
    EXPECT_EQ(stream.seeks, 5) << "a stream attached again is sought first";
    adapter.assumeSoleUse(false);
    ASSERT_TRUE(adapter.read(430, out.data(), 10));
    EXPECT_EQ(stream.seeks, 6) << "shared, every read seeks";
}

TEST(StreamAdapter, HoldsOneReferenceAndReleasesItOnDetach) {
    TestStream first(10, 10);
    TestStream second(20, 10);
    {
        cvwin::StreamAdapter adapter;
        ASSERT_TRUE(adapter.attach(&first));
        EXPECT_EQ(first.references, 2);
        ASSERT_TRUE(adapter.attach(&second));
        EXPECT_EQ(first.references, 1) << "attaching a second stream releases the first";
        EXPECT_EQ(adapter.size(), 20u);
        EXPECT_FALSE(adapter.attach(nullptr));
        EXPECT_EQ(second.references, 1);
        EXPECT_EQ(adapter.size(), 0u);
        ASSERT_TRUE(adapter.attach(&second));
    }
    EXPECT_EQ(second.references, 1) << "the destructor detaches";
    TestStream broken(10, 10);
    broken.failStat = true;
    cvwin::StreamAdapter adapter;
    EXPECT_FALSE(adapter.attach(&broken));
    EXPECT_EQ(broken.references, 1);
    unsigned char out[1];
    EXPECT_FALSE(adapter.read(0, out, 1));
    broken.seeksToEnd = true;
    ASSERT_TRUE(adapter.attach(&broken)) << "its size is where its end lies";
    EXPECT_EQ(adapter.size(), 10u);
    ASSERT_TRUE(adapter.read(3, out, 1));
    EXPECT_EQ(out[0], 3) << "read from its own place, not the end";
}

}  // namespace
