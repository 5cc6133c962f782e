// The property schema installed beside Corvane.dll: well-formed, and naming
// the own properties exactly as the key table the store publishes them by.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "formats/xml_parser.h"
#include "metadata/property_keys.h"

namespace {

struct Description {
    std::string name;
    std::string formatId;
    std::string type;
    std::string label;
};

std::string schemaText() {
    std::ifstream in(CORVANE_PROPERTY_SCHEMA, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* schemaType(cv::PropertyType type) {
    switch (type) {
        case cv::PropertyType::Text:
            return "String";
        case cv::PropertyType::UInt32:
            return "UInt32";
        case cv::PropertyType::Double:
            return "Double";
    }
    return "";
}

TEST(PropertySchema, IsWellFormedAndDescribesEveryOwnKeyAsTheTableDoes) {
    const std::string text = schemaText();
    ASSERT_FALSE(text.empty()) << CORVANE_PROPERTY_SCHEMA;
    cv::XmlParser parser;
    parser.init(text.data(), text.data() + text.size());
    std::vector<std::string> open;
    std::map<std::uint32_t, Description> descriptions;
    std::uint32_t current = 0;
    auto value = [&](std::string_view name) {
        return std::string(parser.attribute(name).value_or(""));
    };
    cv::forEachEvent(parser, [&](cv::XmlEvent event) {
        if (event == cv::XmlEvent::EndElement) {
            EXPECT_FALSE(open.empty());
            if (!open.empty()) {
                EXPECT_EQ(open.back(), parser.name()) << "end tag matches its start tag";
                open.pop_back();
            }
            return true;
        }
        if (event != cv::XmlEvent::StartElement) return true;
        const std::string element(parser.name());
        if (open.empty()) {
            EXPECT_EQ(element, "schema");
        }
        open.push_back(element);  // an empty-element tag gets its end event too
        if (element == "propertyDescription") {
            current = static_cast<std::uint32_t>(std::stoul(value("propID")));
            EXPECT_FALSE(descriptions.count(current)) << "identifier " << current << " once";
            descriptions[current] = {value("name"), value("formatID"), "", ""};
        } else if (element == "typeInfo") {
            descriptions[current].type = value("type");
        } else if (element == "labelInfo") {
            descriptions[current].label = value("label");
        }
        return true;
    });
    EXPECT_NE(parser.next(), cv::XmlEvent::Error) << parser.errorMessage();
    EXPECT_TRUE(open.empty()) << "every element closed";
    ASSERT_EQ(descriptions.size(), 31u);
    for (std::uint32_t id = 2; id <= 32; ++id) {
        const cv::PropertyKeyInfo* key = cv::ownPropertyKey(id);
        const Description& description = descriptions[id];
        EXPECT_EQ(description.name, key->canonicalName) << id;
        EXPECT_EQ(description.formatId, cv::kOwnFormatId) << id;
        EXPECT_EQ(description.type, schemaType(key->type)) << id;
        EXPECT_FALSE(description.label.empty()) << id;
    }
}

}  // namespace
