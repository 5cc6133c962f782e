#include "core/display_text.h"

#include <gtest/gtest.h>

#include "core/utf16.h"

namespace {

struct ShownCase {
    const char* name;
    std::string text;
    const char* oneLine;  // UTF-8 of what is shown
    const char* manyLines;
};

TEST(DisplayText, ReplacesControlsAndDropsBidiControls) {
    const ShownCase cases[] = {
        {"plain", "M 31 \xC3\xA9", "M 31 \xC3\xA9", "M 31 \xC3\xA9"},
        {"escape sequence", "\x1b[31mred", "\uFFFD[31mred", "\uFFFD[31mred"},
        {"NUL inside", std::string("M31\0tail", 8), "M31\uFFFDtail", "M31\uFFFDtail"},
        {"DEL and C1",
         "a\x7F"
         "b\xC2\x85"
         "c\xC2\x9F",
         "a\uFFFDb\uFFFDc\uFFFD", "a\uFFFDb\uFFFDc\uFFFD"},
        {"overrides and isolates", "\u202Eevil\u202A\u202B\u202C\u202D\u2066\u2067\u2068\u2069!",
         "evil!", "evil!"},
        {"neighbours of the bidi ranges kept", "\u2029\u202F\u2065\u206A",
         "\u2029\u202F\u2065\u206A", "\u2029\u202F\u2065\u206A"},
        {"line breaks and tabs", "a\tb\r\nc", "a b  c", "a\tb\r\nc"},
        {"not UTF-8", "a\xFF\xC0\x80", "a\uFFFD\uFFFD\uFFFD", "a\uFFFD\uFFFD\uFFFD"},
        {"only controls to drop", "\u202E\u202E", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cv::displayTextUtf8(c.text), c.oneLine) << c.name;
        EXPECT_EQ(cv::displayText(c.text, cv::TextLines::Many), cv::utf16FromUtf8(c.manyLines))
            << c.name;
    }
}

}  // namespace
