#pragma once

#include <string>
#include <string_view>

namespace cv {

// Whether a shown text may span lines (a listing's body) or must stay on one
// (a column, a tooltip, a sidebar value, a heading).
enum class TextLines { One, Many };

// C0, DEL and C1 controls, which a terminal or the shell would act on.
bool isControl(char16_t c);
// U+202A to U+202E and U+2066 to U+2069: the bidirectional embeddings,
// overrides and isolates, which reorder what follows them.
bool isBidiControl(char16_t c);

// Text from a file made safe to show beside other text: bytes that are not
// UTF-8, control characters (C0, DEL, C1; NUL included, which would end the
// shell's copy early) become U+FFFD, and the bidirectional embeddings,
// overrides and isolates, which would reorder what follows them, are dropped.
// Tabs and line breaks become spaces on one line and stay on many.
std::u16string displayText(std::string_view utf8, TextLines lines = TextLines::One);
std::string displayTextUtf8(std::string_view utf8, TextLines lines = TextLines::One);

}  // namespace cv
