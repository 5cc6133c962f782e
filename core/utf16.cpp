#include "core/utf16.h"

#include <cstdint>

namespace cv {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the sequence a lead byte starts, with the smallest code point it
// may encode; 0 for a byte that cannot lead.
int sequenceLength(unsigned char lead, std::uint32_t& value, std::uint32_t& minimum) {
    if (lead < 0x80) {
        value = lead;
        minimum = 0;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        value = lead & 0x1F;
        minimum = 0x80;
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        value = lead & 0x0F;
        minimum = 0x800;
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        value = lead & 0x07;
        minimum = 0x10000;
        return 4;
    }
    return 0;
}

void append(std::u16string& out, std::uint32_t codePoint) {
    if (codePoint < 0x10000) {
        out.push_back(static_cast<char16_t>(codePoint));
        return;
    }
    codePoint -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

}  // namespace

std::u16string utf16FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t value = 0;
        std::uint32_t minimum = 0;
        const int length = sequenceLength(static_cast<unsigned char>(text[i]), value, minimum);
        bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            valid = (byte & 0xC0) == 0x80;
            value = (value << 6) | (byte & 0x3Fu);
        }
        valid =
            valid && value >= minimum && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
        if (!valid) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        append(out, value);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

std::string utf8FromUtf16(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace cv
