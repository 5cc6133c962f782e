#include "formats/fits_card.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string card(std::string text) {
    text.resize(80, ' ');
    return text;
}

struct CardCase {
    const char* text;
    const char* name;
    const char* value;
    const char* comment;
};

TEST(ParseFitsCard, SplitsNameValueAndComment) {
    const CardCase cases[] = {
        {"NAXIS1  =                 6000 / length of axis 1", "NAXIS1", "6000", "length of axis 1"},
        {"OBJECT  = 'M 42    '           / target", "OBJECT", "'M 42    '", "target"},
        {"OBJECT  = 'it''s a / slash' / real comment", "OBJECT", "'it''s a / slash'",
         "real comment"},
        {"EXPTIME =                300.0", "EXPTIME", "300.0", ""},
        {"EXPTIME =                300.0 /", "EXPTIME", "300.0", ""},
        {"COMMENT1= ''", "COMMENT1", "''", ""},
        {"A       = 'unterminated / string", "A", "'unterminated / string", ""},
        {"STAR_FOC=                   65   /", "STAR_FOC", "65", ""},
        {"XPOS    = / only a comment", "XPOS", "", "only a comment"},
    };
    for (const auto& c : cases) {
        const std::string text = card(c.text);  // the parts are views into it
        const auto parsed = cv::parseFitsCard(text);
        ASSERT_TRUE(parsed.has_value()) << c.text;
        EXPECT_EQ(parsed->name, c.name) << c.text;
        EXPECT_EQ(parsed->value, c.value) << c.text;
        EXPECT_EQ(parsed->comment, c.comment) << c.text;
    }
}

TEST(ParseFitsCard, SlashInTheLastColumnLeavesNoComment) {
    std::string text = card("KEY     = 5");
    text[79] = '/';
    const auto parsed = cv::parseFitsCard(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->value, "5");
    EXPECT_EQ(parsed->comment, "");
}

TEST(ParseFitsCard, DoubledQuoteAtTheCardEdgeStaysInsideTheString) {
    // The quote in column 80 cannot be doubled; it closes the string.
    std::string text = card("KEY     = 'abc");
    text[79] = '\'';
    const auto parsed = cv::parseFitsCard(text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->value.back(), '\'');
}

TEST(ParseFitsCard, RefusesCardsWithoutAValue) {
    const char* notValueCards[] = {
        "COMMENT this is commentary",
        "HISTORY  = looks like a value but is history",
        "NAXIS1  =100",
        "        = 'no name'",
        "CONTINUE  'more text'",
        "HIERARCH ESO DET CHIP = 5",
        "",
    };
    for (const char* text : notValueCards) {
        EXPECT_FALSE(cv::parseFitsCard(card(text)).has_value()) << text;
    }
    EXPECT_FALSE(cv::parseFitsCard("SIMPLE  = T").has_value()) << "a card is 80 bytes";
}

TEST(IsEndCard, NeedsEndAndFiveSpaces) {
    EXPECT_TRUE(cv::isEndCard(card("END")));
    EXPECT_FALSE(cv::isEndCard(card("ENDX")));
    EXPECT_FALSE(cv::isEndCard(card(" END")));
}

}  // namespace
