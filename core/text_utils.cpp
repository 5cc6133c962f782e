#include "core/text_utils.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace cv {

namespace {

constexpr std::size_t kMaxDoubleTextLength = 512;  // bytes, after trimming

char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool isWhitespace(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isWhitespace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isWhitespace(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<std::uint64_t> parseUnsigned64(std::string_view text) {
    text = trim(text);
    if (text.empty()) return std::nullopt;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (kMax - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::uint32_t> parseUnsigned32(std::string_view text) {
    const auto value = parseUnsigned64(text);
    if (!value || *value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

std::optional<std::int64_t> parseSigned64(std::string_view text) {
    text = trim(text);
    if (text.empty()) return std::nullopt;
    const bool negative = text.front() == '-';
    if (negative || text.front() == '+') text.remove_prefix(1);
    const auto magnitude = parseUnsigned64(text);
    if (!magnitude) return std::nullopt;
    constexpr auto kMaxPositive =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (*magnitude > kMaxPositive + 1) return std::nullopt;
        if (*magnitude == kMaxPositive + 1) return std::numeric_limits<std::int64_t>::min();
        return -static_cast<std::int64_t>(*magnitude);
    }
    if (*magnitude > kMaxPositive) return std::nullopt;
    return static_cast<std::int64_t>(*magnitude);
}

std::optional<double> parseDouble(std::string_view text) {
    text = trim(text);
    if (text.empty() || text.size() > kMaxDoubleTextLength) return std::nullopt;
    std::array<char, kMaxDoubleTextLength + 1> buffer{};
    std::memcpy(buffer.data(), text.data(), text.size());
    char* end = nullptr;
    const double value = std::strtod(buffer.data(), &end);
    if (end != buffer.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> parseFiniteDouble(std::string_view text) {
    const auto value = parseDouble(text);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

bool equalsIgnoreCase(std::string_view text, std::string_view name) {
    if (text.size() != name.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (foldAscii(text[i]) != foldAscii(name[i])) return false;
    }
    return true;
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = foldAscii(c);
    return out;
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string_view withoutByteOrderMark(std::string_view text) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    return text;
}

std::string takeWithinBudget(std::string_view text, std::uint64_t& budget) {
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(text.size(), budget));
    budget -= length;
    return std::string(text.substr(0, length));
}

std::optional<std::uint64_t> safeMultiply(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::nullopt;
    return a * b;
}

}  // namespace cv
