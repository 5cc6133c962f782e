#include "core/reader.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <numeric>

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::array<unsigned char, 120> numberedBytes() {
    std::array<unsigned char, 120> bytes{};
    std::iota(bytes.begin(), bytes.end(), static_cast<unsigned char>(0));
    return bytes;
}

struct RangeCase {
    const char* name;
    std::uint64_t offset;
    std::uint64_t count;
    bool expected;
};

TEST(MemoryReader, AcceptsExactlyTheRangesInsideTheBuffer) {
    const auto bytes = numberedBytes();
    cv::MemoryReader reader(bytes.data(), bytes.size());
    const RangeCase cases[] = {
        {"whole buffer", 0, 120, true},
        {"last byte", 119, 1, true},
        {"one past the end", 120, 1, false},
        {"one byte too many", 0, 121, false},
        {"zero count past the end", 5000, 0, true},
        {"zero count at max offset", kMax, 0, true},
        {"wrapping range", kMax, 2, false},
        {"wrapping count", 1, kMax, false},
    };
    std::array<unsigned char, 200> out{};
    for (const auto& c : cases) {
        EXPECT_EQ(reader.read(c.offset, out.data(), c.count), c.expected) << c.name;
    }
}

TEST(MemoryReader, CopiesTheRequestedBytes) {
    const auto bytes = numberedBytes();
    cv::MemoryReader reader(bytes.data(), bytes.size());
    std::array<unsigned char, 3> out{};
    ASSERT_TRUE(reader.read(117, out.data(), out.size()));
    EXPECT_EQ(out, (std::array<unsigned char, 3>{117, 118, 119}));
    EXPECT_EQ(reader.size(), 120u);
}

TEST(MemoryReader, RefusesANullDestinationEvenForZeroBytes) {
    const auto bytes = numberedBytes();
    cv::MemoryReader reader(bytes.data(), bytes.size());
    EXPECT_FALSE(reader.read(0, nullptr, 0));
    EXPECT_FALSE(reader.read(0, nullptr, 1));
}

TEST(SliceReader, ChecksItsOwnBoundsBeforeTheUnderlyingReader) {
    // A slice of length 100 at start 50 over a 120-byte source.
    const auto bytes = numberedBytes();
    cv::MemoryReader source(bytes.data(), bytes.size());
    cv::SliceReader slice(source, 50, 100);
    std::array<unsigned char, 101> out{};
    EXPECT_EQ(slice.size(), 100u);
    EXPECT_TRUE(slice.read(0, out.data(), 70)) << "bytes 50..119 exist";
    EXPECT_EQ(out[0], 50);
    EXPECT_FALSE(slice.read(60, out.data(), 20)) << "the source ends at 120";
    EXPECT_FALSE(slice.read(0, out.data(), 101)) << "longer than the slice";
    EXPECT_FALSE(slice.read(101, out.data(), 0)) << "offset past the slice";
    EXPECT_TRUE(slice.read(100, out.data(), 0)) << "zero count at the slice end";
    EXPECT_FALSE(slice.read(1, out.data(), kMax)) << "wrapping count";
}

TEST(SliceReader, NeverWrapsAroundTheUnderlyingOffsets) {
    const auto bytes = numberedBytes();
    cv::MemoryReader source(bytes.data(), bytes.size());
    cv::SliceReader slice(source, kMax - 10, 100);
    std::array<unsigned char, 4> out{};
    EXPECT_FALSE(slice.read(20, out.data(), 4));
}

struct ReadExactCase {
    const char* name;
    std::uint64_t offset;
    std::uint64_t count;
    cv::ReadStatus expected;
};

TEST(ReadExact, TellsOverflowTruncationAndSuccessApart) {
    const auto bytes = numberedBytes();
    cv::MemoryReader reader(bytes.data(), bytes.size());
    const ReadExactCase cases[] = {
        {"inside", 10, 10, cv::ReadStatus::Ok},
        {"zero count anywhere", kMax, 0, cv::ReadStatus::Ok},
        {"past the end", 110, 20, cv::ReadStatus::Truncated},
        {"overflow is malformed, not truncated", kMax - 1, 5, cv::ReadStatus::Malformed},
    };
    std::array<unsigned char, 32> out{};
    for (const auto& c : cases) {
        EXPECT_EQ(cv::readExact(reader, c.offset, out.data(), c.count), c.expected) << c.name;
    }
}

TEST(ReadExact, ReportsAFailingSourceAsReadFailed) {
    // The slice claims 100 bytes, but its source only has 70 of them.
    const auto bytes = numberedBytes();
    cv::MemoryReader source(bytes.data(), bytes.size());
    cv::SliceReader slice(source, 50, 100);
    std::array<unsigned char, 80> out{};
    EXPECT_EQ(cv::readExact(slice, 0, out.data(), 80), cv::ReadStatus::ReadFailed);
}

TEST(ReadStatusName, NamesEveryStatusAndFlagsStrangers) {
    EXPECT_STREQ(cv::readStatusName(cv::ReadStatus::Ok), "Ok");
    EXPECT_STREQ(cv::readStatusName(cv::ReadStatus::NotRecognized), "NotRecognized");
    EXPECT_STREQ(cv::readStatusName(cv::ReadStatus::Truncated), "Truncated");
    EXPECT_STREQ(cv::readStatusName(cv::ReadStatus::Partial), "Partial");
    EXPECT_STREQ(cv::readStatusName(cv::ReadStatus::TimedOut), "TimedOut");
    EXPECT_STREQ(cv::readStatusName(static_cast<cv::ReadStatus>(10)), "Unknown");
}

}  // namespace
