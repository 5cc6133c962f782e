#include "core/display_text.h"

#include "core/utf16.h"

namespace cv {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// What `c` becomes: itself, a replacement, or nothing (0).
char16_t shown(char16_t c, TextLines lines) {
    if (isBidiControl(c)) return 0;
    if (!isControl(c)) return c;
    const bool many = lines == TextLines::Many;
    switch (c) {
        case u'\t':
            return many ? c : u' ';
        case u'\n':
            return many ? c : u' ';
        case u'\r':
            return many ? c : u' ';
        default:
            return kReplacement;
    }
}

}  // namespace

bool isControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool isBidiControl(char16_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::u16string displayText(std::string_view utf8, TextLines lines) {
    std::u16string text = utf16FromUtf8(utf8);
    std::size_t kept = 0;
    for (const char16_t c : text) {
        if (const char16_t out = shown(c, lines); out != 0) text[kept++] = out;
    }
    text.resize(kept);
    return text;
}

std::string displayTextUtf8(std::string_view utf8, TextLines lines) {
    return utf8FromUtf16(displayText(utf8, lines));
}

}  // namespace cv
