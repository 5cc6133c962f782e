#include "formats/base64.h"

#include <algorithm>
#include <array>
#include <new>

#include "core/text_utils.h"

namespace cv {

namespace {

constexpr std::uint8_t kInvalid = 0xFF;
constexpr std::uint8_t kPadding = 0xFE;

constexpr std::array<std::uint8_t, 256> makeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = kInvalid;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
    table[static_cast<unsigned char>('=')] = kPadding;
    return table;
}

constexpr std::array<std::uint8_t, 256> kTable = makeTable();

}  // namespace

bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out, std::uint64_t maxBytes) {
    out.clear();
    try {
        out.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(text.size() / 4 * 3, maxBytes)));
        std::uint32_t group = 0;
        int filled = 0;
        int padding = 0;
        bool finished = false;  // a padded group ends the data
        for (char c : text) {
            if (isWhitespace(c)) continue;
            const std::uint8_t value = kTable[static_cast<unsigned char>(c)];
            if (value == kInvalid || finished) return false;
            if (value == kPadding) {
                if (filled < 2) return false;
                ++padding;
            } else if (padding > 0) {
                return false;
            }
            group = (group << 6) | (value == kPadding ? 0u : value);
            if (++filled < 4) continue;
            const auto bytes = static_cast<std::size_t>(3 - padding);
            if (out.size() + bytes > maxBytes) return false;
            for (std::size_t i = 0; i < bytes; ++i)
                out.push_back(static_cast<std::uint8_t>(group >> (16 - 8 * i)));
            group = 0;
            filled = 0;
            finished = padding > 0;
        }
        return filled == 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace cv
