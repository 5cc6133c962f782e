#pragma once

#include <string>
#include <string_view>

namespace cv {

// UTF-8 to UTF-16 for texts that reach the shell or a window; bytes that
// are not valid UTF-8 become U+FFFD each.
std::u16string utf16FromUtf8(std::string_view text);

// Back to UTF-8, for the Linux tool's output and for tests.
std::string utf8FromUtf16(std::u16string_view text);

}  // namespace cv
