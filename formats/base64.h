#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace cv {

// Decodes standard base64 (A-Z a-z 0-9 + /, '=' padding at the end only),
// ignoring whitespace between characters. False for any other byte, a
// length that does not end on a whole group, or more than `maxBytes` of
// output; `out` is then unspecified.
[[nodiscard]] bool decodeBase64(std::string_view text, std::vector<std::uint8_t>& out,
                                std::uint64_t maxBytes);

}  // namespace cv
