#include "core/text_utils.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

TEST(Trim, RemovesSpaceAndControlWhitespaceOnly) {
    EXPECT_EQ(cv::trim(" \t\n\v\f\rabc \r\n"), "abc");
    EXPECT_EQ(cv::trim("\x08"
                       "abc"),
              "\x08"
              "abc")
        << "byte 8 is not whitespace";
    EXPECT_EQ(cv::trim("   "), "");
    EXPECT_EQ(cv::trim("a b"), "a b");
}

struct UnsignedCase {
    const char* text;
    std::optional<std::uint64_t> expected;
};

TEST(ParseUnsigned64, AcceptsOnlyDigitsThatFillTheTrimmedText) {
    const UnsignedCase cases[] = {
        {"0", 0},
        {"  42 ", 42},
        {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
        {"18446744073709551616", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"+1", std::nullopt},
        {"1 2", std::nullopt},
        {"12a", std::nullopt},
        {"1.0", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(cv::parseUnsigned64(c.text), c.expected) << c.text;
}

TEST(ParseUnsigned32, StopsAtTheLargest32BitValue) {
    EXPECT_EQ(cv::parseUnsigned32("4294967295"), 4294967295u);
    EXPECT_EQ(cv::parseUnsigned32("4294967296"), std::nullopt);
}

struct SignedCase {
    const char* text;
    std::optional<std::int64_t> expected;
};

TEST(ParseSigned64, AcceptsOneSignAndTheFullRange) {
    const SignedCase cases[] = {
        {"-32", -32},
        {"+16", 16},
        {" 8 ", 8},
        {"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"--1", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(cv::parseSigned64(c.text), c.expected) << c.text;
}

TEST(ParseDouble, RequiresTheWholeTextToBeANumber) {
    EXPECT_EQ(cv::parseDouble(" 32768 "), 32768.0);
    EXPECT_EQ(cv::parseDouble("2.0587209E-16"), 2.0587209E-16);
    EXPECT_EQ(cv::parseDouble("-1.5e3"), -1500.0);
    EXPECT_EQ(cv::parseDouble("1.0D+00"), std::nullopt) << "Fortran exponents are not C's";
    EXPECT_EQ(cv::parseDouble("12 abc"), std::nullopt);
    EXPECT_EQ(cv::parseDouble(""), std::nullopt);
    EXPECT_EQ(cv::parseDouble("'T'"), std::nullopt);
}

TEST(ParseDouble, LimitsTheTextTo512Bytes) {
    const std::string longest = "1" + std::string(511, '0');
    EXPECT_TRUE(cv::parseDouble(longest).has_value());
    EXPECT_FALSE(cv::parseDouble(longest + "0").has_value());
    EXPECT_TRUE(cv::parseDouble("   " + longest + "   ").has_value())
        << "length counts after trimming";
}

TEST(EqualsIgnoreCase, FoldsAsciiLettersOnly) {
    EXPECT_TRUE(cv::equalsIgnoreCase("imagetyp", "IMAGETYP"));
    EXPECT_TRUE(cv::equalsIgnoreCase("Date-Obs", "DATE-OBS"));
    EXPECT_FALSE(cv::equalsIgnoreCase("IMAGETYP ", "IMAGETYP"));
    EXPECT_FALSE(cv::equalsIgnoreCase("\xc3\xa9", "\xc3\x89")) << "non-ASCII bytes compare exactly";
    EXPECT_FALSE(cv::equalsIgnoreCase("[", "{")) << "only letters fold";
}

TEST(SafeMultiply, ReportsOverflowInsteadOfWrapping) {
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(cv::safeMultiply(6000, 4000), 24000000u);
    EXPECT_EQ(cv::safeMultiply(0, kMax), 0u);
    EXPECT_EQ(cv::safeMultiply(kMax, 1), kMax);
    EXPECT_EQ(cv::safeMultiply(1ULL << 32, 1ULL << 32), std::nullopt);
    EXPECT_EQ(cv::safeMultiply(kMax / 2 + 1, 2), std::nullopt);
}

}  // namespace
