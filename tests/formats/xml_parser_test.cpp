#include "formats/xml_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Event {
    cv::XmlEvent type;
    std::string detail;  // name, text or error message
    int level = 0;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << static_cast<int>(e.type) << ":" << e.detail << "@" << e.level;
}

std::vector<Event> eventsOf(const std::string& document) {
    cv::XmlParser parser;
    parser.init(document.data(), document.data() + document.size());
    std::vector<Event> events;
    for (int guard = 0; guard < 1000; ++guard) {
        const cv::XmlEvent event = parser.next();
        switch (event) {
            case cv::XmlEvent::StartElement:
            case cv::XmlEvent::EndElement:
                events.push_back({event, std::string(parser.name()), parser.level()});
                break;
            case cv::XmlEvent::Text:
                events.push_back({event, std::string(parser.text()), 0});
                break;
            case cv::XmlEvent::Error:
                events.push_back({event, parser.errorMessage(), 0});
                return events;
            default:
                events.push_back({event, "", 0});
                return events;
        }
    }
    return events;
}

std::string lastError(const std::string& document) {
    const auto events = eventsOf(document);
    return events.back().type == cv::XmlEvent::Error ? events.back().detail : "no error";
}

using E = cv::XmlEvent;

TEST(XmlParser, ReportsEmptyElementsAsStartAndEnd) {
    const std::vector<Event> expected = {
        {E::StartElement, "a", 0}, {E::EndElement, "a", 0}, {E::EndOfDocument, "", 0}};
    EXPECT_EQ(eventsOf("<a/>"), expected);
    cv::XmlParser parser;
    const std::string doc = "<a/>";
    parser.init(doc.data(), doc.data() + doc.size());
    ASSERT_EQ(parser.next(), E::StartElement);
    EXPECT_TRUE(parser.isEmptyElement());
}

TEST(XmlParser, DoesNotMatchEndTagsToStartTags) {
    const std::vector<Event> expected = {
        {E::StartElement, "a", 0}, {E::EndElement, "b", 0}, {E::EndOfDocument, "", 0}};
    EXPECT_EQ(eventsOf("<a></b>"), expected);
}

TEST(XmlParser, ReportsTextWithItsWhitespaceAndSkipsBlankRuns) {
    const std::vector<Event> expected = {{E::StartElement, "a", 0}, {E::StartElement, "b", 1},
                                         {E::Text, "  x y \n", 0},  {E::EndElement, "b", 1},
                                         {E::EndElement, "a", 0},   {E::Text, "tail", 0},
                                         {E::EndOfDocument, "", 0}};
    EXPECT_EQ(eventsOf("<a>\n  <b>  x y \n</b>\t</a>tail"), expected);
}

TEST(XmlParser, SkipsDeclarationsCommentsAndDoctypes) {
    const std::vector<Event> expected = {{E::StartElement, "r", 0},
                                         {E::Text, "<raw>", 0},
                                         {E::EndElement, "r", 0},
                                         {E::EndOfDocument, "", 0}};
    EXPECT_EQ(eventsOf("<?xml version=\"1.0\"?><!-- c --><!DOCTYPE r [ <!ENTITY x \"y\"> "
                       "]><r><![CDATA[<raw>]]></r>"),
              expected);
}

TEST(XmlParser, AcceptsThirtyTwoLevelsAndNoMore) {
    std::string deep;
    for (int i = 0; i < 32; ++i) deep += "<e>";
    for (int i = 0; i < 32; ++i) deep += "</e>";
    EXPECT_EQ(eventsOf(deep).back().type, E::EndOfDocument);
    EXPECT_EQ(lastError("<e>" + deep + "</e>"), "element nesting too deep");
}

TEST(XmlParser, KeepsTheFirstSixtyFourAttributes) {
    std::string tag = "<a";
    for (int i = 0; i < 70; ++i) tag += " k" + std::to_string(i) + "='" + std::to_string(i) + "'";
    tag += "/>";
    cv::XmlParser parser;
    parser.init(tag.data(), tag.data() + tag.size());
    ASSERT_EQ(parser.next(), E::StartElement);
    EXPECT_EQ(parser.attributeCount(), 64);
    EXPECT_EQ(parser.attribute("k63").value_or("missing"), "63");
    EXPECT_FALSE(parser.attribute("k64").has_value());
    EXPECT_EQ(parser.attributeName(64), "");
    EXPECT_EQ(parser.attributeValue(-1), "");
}

TEST(XmlParser, ReadsAttributesWithoutSpaceBetweenThem) {
    const std::string tag = "<a x=\"1\"y='2' x=\"3\">";
    cv::XmlParser parser;
    parser.init(tag.data(), tag.data() + tag.size());
    ASSERT_EQ(parser.next(), E::StartElement);
    EXPECT_EQ(parser.attributeCount(), 3);
    EXPECT_EQ(parser.attribute("y").value_or(""), "2");
    EXPECT_EQ(parser.attribute("x").value_or(""), "1") << "lookups find the first";
    EXPECT_FALSE(parser.attribute("X").has_value());
}

TEST(XmlParser, NamesEveryMalformation) {
    const std::pair<const char*, const char*> cases[] = {
        {"<", "truncated markup"},
        {"<?xml", "unterminated processing instruction"},
        {"<!-- open", "unterminated comment"},
        {"<a><![CDATA[x", "unterminated CDATA"},
        {"<!DOCTYPE [ >", "unterminated declaration"},
        {"<a></ >", "bad end tag name"},
        {"<a></a", "unterminated end tag"},
        {"</a>", "end tag without matching start tag"},
        {"<1a/>", "bad element name"},
        {"<a b=c/>", "bad attribute list"},
        {"<a b \"c\"/>", "bad attribute list"},
        {"<a b='c", "bad attribute list"},
        {"<a b='c'", "unterminated start tag"},
        {"<a/ >", "unterminated empty element"},
        {"<a>", "document ends with unclosed elements"},
    };
    for (const auto& [document, message] : cases)
        EXPECT_EQ(lastError(document), message) << document;
}

TEST(XmlParser, NullBufferIsAnError) {
    cv::XmlParser parser;
    parser.init(nullptr, nullptr);
    EXPECT_EQ(parser.next(), E::Error);
    EXPECT_STREQ(parser.errorMessage(), "invalid buffer");
    EXPECT_EQ(parser.next(), E::Error) << "final events repeat";
    const char* text = "<a/>";
    parser.init(text + 2, text);
    EXPECT_EQ(parser.next(), E::Error);
}

TEST(XmlParser, EmptyDocumentEndsAtOnce) {
    EXPECT_EQ(eventsOf("").back().type, E::EndOfDocument);
}

std::string decode(const std::string& text, std::size_t capacity = 64) {
    std::vector<char> buffer(capacity + 1, '#');
    const std::size_t length = cv::decodeEntities(text, buffer.data(), capacity);
    EXPECT_EQ(buffer[length], '\0');
    return std::string(buffer.data(), length);
}

TEST(DecodeEntities, DecodesNamedAndNumericReferences) {
    const std::pair<const char*, const char*> cases[] = {
        {"&lt;&gt;&amp;&quot;&apos;", "<>&\"'"},
        {"&#x41;&#65;&#X42;", "AAB"},
        {"&#xE9;", "\xC3\xA9"},
        {"&#x1F52D;", "\xF0\x9F\x94\xAD"},
        {"&#0;&#xD800;&#x110000;&#1;&#xFFFE;", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"&#9;&#10;&#13;", "\t\n\r"},
        {"&nbsp; & x", "&nbsp; & x"},
        {"&#x;&#xG1;&;", "\uFFFD\uFFFD&;"},
        {"&averyverylongname;", "&averyverylongname;"},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(decode(text), expected) << text;
}

TEST(DecodeEntities, StopsAtTheRoomLeft) {
    EXPECT_EQ(decode("ab&#x1F52D;", 6), "ab") << "a four-byte character needs four bytes of room";
    EXPECT_EQ(decode("ab&#x1F52D;", 7), "ab\xF0\x9F\x94\xAD");
    EXPECT_EQ(decode("abcdef", 4), "abc");
    EXPECT_EQ(decode("a&unknown;", 5), "a&un") << "an unknown reference is cut to the room left";
    EXPECT_EQ(cv::decodeEntities("x", nullptr, 10), 0u);
    char one[1] = {'#'};
    EXPECT_EQ(cv::decodeEntities("x", one, 1), 0u);
    EXPECT_EQ(one[0], '\0');
}

TEST(XmlParser, DecodesAttributesOnRequest) {
    const std::string tag = "<a v='R&amp;D &#x263A;'/>";
    cv::XmlParser parser;
    parser.init(tag.data(), tag.data() + tag.size());
    ASSERT_EQ(parser.next(), E::StartElement);
    char buffer[32];
    std::size_t length = 99;
    ASSERT_TRUE(parser.attributeDecoded("v", buffer, sizeof buffer, &length));
    EXPECT_EQ(std::string(buffer, length), "R&D \xE2\x98\xBA");
    EXPECT_FALSE(parser.attributeDecoded("w", buffer, sizeof buffer, &length));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(length, 0u);
}

}  // namespace
