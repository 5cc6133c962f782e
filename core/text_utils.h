#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cv {

// Text inside files is handled as bytes. Whitespace is the space and the
// bytes 9 to 13; a number must fill the whole trimmed text.

bool isWhitespace(char c);
std::string_view trim(std::string_view text);

std::optional<std::uint64_t> parseUnsigned64(std::string_view text);
std::optional<std::uint32_t> parseUnsigned32(std::string_view text);
// An optional sign; a negative magnitude may reach 2^63.
std::optional<std::int64_t> parseSigned64(std::string_view text);
// strtod over the trimmed text (1 to 512 bytes), which it must consume whole.
std::optional<double> parseDouble(std::string_view text);
// As parseDouble, but "nan", "inf" and overflowing texts are no number.
std::optional<double> parseFiniteDouble(std::string_view text);

// ASCII letters fold to lower case; every other byte compares exactly.
bool equalsIgnoreCase(std::string_view text, std::string_view name);
// The text with ASCII letters in one case; every other byte as it is.
std::string lowerAscii(std::string_view text);
std::string upperAscii(std::string_view text);

// The text after a UTF-8 byte-order mark, if it starts with one.
std::string_view withoutByteOrderMark(std::string_view text);

// As much of the text as `budget` bytes allow; the budget shrinks by that much.
std::string takeWithinBudget(std::string_view text, std::uint64_t& budget);

// The 64-bit product, or nothing when it overflows.
std::optional<std::uint64_t> safeMultiply(std::uint64_t a, std::uint64_t b);

}  // namespace cv
