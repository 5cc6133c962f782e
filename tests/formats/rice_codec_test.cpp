#include "formats/rice_codec.h"

#include <gtest/gtest.h>

namespace {
using Pixels = std::vector<std::int32_t>;
using cv::ReadStatus;

// Exactly sized input and output, so the sanitizer build sees any access outside them.
std::pair<ReadStatus, Pixels> decode(const std::string& hex, std::uint32_t bytePix,
                                     std::uint32_t blockSize, std::size_t count) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    Pixels pixels(count);
    return {cv::decodeRice(bytes, bytePix, blockSize, pixels), pixels};
}

// 21 pixels in blocks of 7 (flat, a ramp, a swing: zero, Rice-coded and raw differences), by
// astropy 5.2's RICE_1 compressor with ZVAL1 = 7, checked with funpack.
const struct {
    std::uint32_t bytePix;
    std::int32_t base, step, swing;
    std::string hex;
} kVectors[] = {
    {1, 100, 5, 60, "64114a5294a57bdf0eff0eff0ef0"},
    {2, -1000, 40, 12000, "fc180750505050505050f5fefbb80bb7fbb80bb7fbb80bb7f0"},
    {4, -1000000000, 1000, 400000000,
     "c465360002df41f41f41f41f41f41f4345f5e7d5ebebc2000bebc1ffebebc2000bebc1ffebebc2000bebc1ffe0"},
};

TEST(RiceDecode, KnownTilesDecodeExactlyAndEveryTruncationIsMalformed) {
    for (const auto& v : kVectors) {
        Pixels expected(21, v.base);
        for (std::size_t i = 7; i < 21; ++i)
            expected[i] += i < 14 ? v.step * int(i - 6) : (i % 2 ? 1 : -1) * v.swing;
        EXPECT_EQ(decode(v.hex, v.bytePix, 7, 21), std::pair(ReadStatus::Ok, expected));
        for (std::size_t cut = 0; cut < v.hex.size(); cut += 2)
            EXPECT_EQ(decode(v.hex.substr(0, cut), v.bytePix, 7, 21).first, ReadStatus::Malformed)
                << "bytePix " << v.bytePix << ", " << cut / 2 << " bytes";
    }
}

TEST(RiceDecode, HostileTilesAreRefusedAndCostOnlyWhatTheOutputHolds) {
    const std::string zeroBytes(62, '0');  // 31 of them
    const struct {
        const char* name;
        std::string hex;
        std::uint32_t bytePix, blockSize, count;
        ReadStatus status;
    } cases[] = {
        {"8-byte pixels", "0000000000000000", 8, 32, 1, ReadStatus::Unsupported},
        {"no block size", "000000", 2, 0, 1, ReadStatus::Unsupported},
        {"block code 27, 4-byte pixels", "00000000d8", 4, 32, 1, ReadStatus::Malformed},
        {"quotient 255, 1-byte pixels", "0020" + zeroBytes + "20", 1, 32, 1, ReadStatus::Ok},
        {"quotient 256, 1-byte pixels", "0020" + zeroBytes + "10", 1, 32, 1, ReadStatus::Malformed},
        {"block larger than the tile", "123400", 2, UINT32_MAX, 1000, ReadStatus::Ok},
        {"a million pixels from three bytes", "123400", 2, 16, 1 << 20, ReadStatus::Malformed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(decode(c.hex, c.bytePix, c.blockSize, c.count).first, c.status) << c.name;
    EXPECT_EQ(decode(cases[3].hex, 1, 32, 1).second, Pixels{128});  // 255 unfolds to -128
    EXPECT_EQ(decode(cases[5].hex, 2, UINT32_MAX, 1000).second, Pixels(1000, 0x1234));
}
}  // namespace
