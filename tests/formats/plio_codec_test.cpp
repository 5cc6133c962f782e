#include "formats/plio_codec.h"

#include <gtest/gtest.h>

namespace {
using Words = std::vector<std::uint16_t>;
using Pixels = std::vector<std::int32_t>;
using cv::ReadStatus;

// Big-endian words less `cut` bytes, exactly sized as the output, for the sanitizer build.
std::pair<ReadStatus, Pixels> decode(const Words& words, std::size_t count, std::size_t cut = 0) {
    std::vector<std::uint8_t> in;
    for (auto word : words) in.insert(in.end(), {std::uint8_t(word >> 8), std::uint8_t(word)});
    in.resize(in.size() - cut);
    Pixels pixels(count);
    return {cv::decodePlio(in, pixels), pixels};
}

// A 40-pixel mask row by fpack 1.7.0 -p (CFITSIO 4.02), checked with funpack.
const Words kList = {0x0000, 0x0007, 0xff9c, 0x0016, 0x0000, 0x0000, 0x0000, 0x0003,
                     0x4004, 0x2008, 0x5003, 0x1388, 0x0001, 0x0002, 0x4006, 0x7002,
                     0x1002, 0x0000, 0x0006, 0x4002, 0x2005, 0x500d};
const Pixels kPixels = {0,    0,    0,    1,    1,    1, 1, 0, 0, 9, 0, 0, 5000, 5000,
                        5000, 5000, 5000, 5000, 4998, 0, 0, 0, 0, 0, 0, 2, 2,    0,
                        0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 7};

TEST(PlioDecode, TheKnownRowDecodesExactlyUnderEitherHeaderAndEveryTruncationIsMalformed) {
    Words oldList = {0, 0, static_cast<std::uint16_t>(kList.size() - 4)};  // three-word header
    oldList.insert(oldList.end(), kList.begin() + 7, kList.end());
    for (const Words& list : {kList, oldList}) {
        EXPECT_EQ(decode(list, 40), std::pair(ReadStatus::Ok, kPixels)) << list.size() << " words";
        for (std::size_t cut = 1; cut <= 2 * list.size(); ++cut)
            EXPECT_EQ(decode(list, 40, cut).first, ReadStatus::Malformed) << "less " << cut;
    }
}

TEST(PlioDecode, DamagedListsAreMalformed) {
    const std::pair<const char*, Words> cases[] = {
        {"length of a billion words", {0, 7, 0xff9c, 8, 0x7fff, 0, 0, 0x4028}},
        {"header without its length words", {0, 4, 0xff9c, 6, 0, 0x4028}},
        {"set value without its second word", {0, 0, 4, 0x1001}},
        {"run past the output", {0, 0, 4, 0x4029}},
        {"list ending before the output", {0, 0, 4, 0x4027}},
        {"word with its top bit set", {0, 0, 5, 0x8000, 0x4028}},
        {"value below zero", {0, 0, 5, 0x3002, 0x4028}},
        {"value past 27 bits", {0, 0, 7, 0x1fff, 0x7fff, 0x2001, 0x4028}},
    };
    for (const auto& [name, words] : cases)
        EXPECT_EQ(decode(words, 40).first, ReadStatus::Malformed) << name;
    EXPECT_EQ(decode({0, 0, 6, 0x1fff, 0x7fff, 0x4028}, 40).second, Pixels(40, (1 << 27) - 1));
}
}  // namespace
